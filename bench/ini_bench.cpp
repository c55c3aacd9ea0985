// Reads an ini file of 10 000 lines and looks up 1 000 keys in it; prints the times.
#include "core/TrIniFile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

double millisSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main()
{
    constexpr int kSections = 100;
    constexpr int kLinesPerSection = 99; // with its header, 100 lines a section
    constexpr int kLookups = 1000;

    char dir[] = "/tmp/ini-bench-XXXXXX";
    if (!mkdtemp(dir)) {
        perror("mkdtemp");
        return 1;
    }
    const std::string file = std::string(dir) + "/bench.ini";
    {
        std::ofstream out(file, std::ios::binary);
        for (int s = 0; s < kSections; ++s) {
            out << "[Section" << s << "]\n";
            for (int k = 0; k < kLinesPerSection; ++k)
                out << "Key" << k << "=value of key " << k << " in section " << s << "\n";
        }
    }

    const auto readStart = std::chrono::steady_clock::now();
    Tr::TIniFile ini(file);
    ini.ReadFromFile();
    const double readMs = millisSince(readStart);

    const auto lookupStart = std::chrono::steady_clock::now();
    size_t found = 0;
    for (int i = 0; i < kLookups; ++i) {
        const int s = (i * 37) % kSections;
        const int k = (i * 53) % kLinesPerSection;
        found += ini.ReadString("Section" + std::to_string(s), "Key" + std::to_string(k), "").size() > 0;
    }
    const double lookupMs = millisSince(lookupStart);

    const auto writeStart = std::chrono::steady_clock::now();
    ini.WriteToFile();
    const double writeMs = millisSince(writeStart);

    printf("ini read of %d lines:   %8.3f ms\n", kSections * (kLinesPerSection + 1), readMs);
    printf("%d key lookups:        %8.3f ms (%zu found)\n", kLookups, lookupMs, found);
    printf("ini write of the file:  %8.3f ms\n", writeMs);

    unlink(file.c_str());
    rmdir(dir);
    return found == (size_t)kLookups ? 0 : 1;
}
