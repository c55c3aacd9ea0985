#include "platform/AlsaPeerPool.h"

#include <cstring>

#include <sound/asequencer.h>
#include <sys/ioctl.h>

namespace Alsa {

bool PeerInputPool(int fd, int client, int& pool, int& free)
{
    snd_seq_client_pool info;
    std::memset(&info, 0, sizeof info);
    info.client = client;
    if (ioctl(fd, SNDRV_SEQ_IOCTL_GET_CLIENT_POOL, &info) < 0)
        return false;
    pool = info.input_pool;
    free = info.input_free;
    return true;
}

} // namespace Alsa
