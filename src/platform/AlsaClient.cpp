#include "platform/AlsaClient.h"

#include <exception>

namespace Alsa {

namespace {

// The clients of this process and the ports they own, by reference.
struct Table
{
    std::mutex mutex;
    std::map<MIDIClientRef, std::shared_ptr<Client>> clients;
    std::map<MIDIPortRef, MIDIClientRef> ports;
    uint32_t nextNumber = 1;
    // Sequencer numbers of our open clients, and of closed ones with the listeners that have not
    // seen their exit announcement yet: announcements about either are not news to our own
    // listeners. Each listener sees the exit on its own, so each lets go only for itself.
    std::set<int> ownAlsaClients;
    std::map<int, std::set<MIDIClientRef>> closingAlsaClients;
    // For listing ports while no client is open.
    SeqHandle queryConnection;

    ~Table()
    {
        // Stop the threads while everything they may look at still exists.
        std::map<MIDIClientRef, std::shared_ptr<Client>> doomed;
        {
            std::lock_guard<std::mutex> lock(mutex);
            doomed.swap(clients);
        }
        doomed.clear();
    }
};

// The listener will not see (or no longer needs) the exits still awaited for it.
void ForgetClosingClientsLocked(std::map<int, std::set<MIDIClientRef>>& closing, MIDIClientRef listener)
{
    for (auto entry = closing.begin(); entry != closing.end();)
    {
        entry->second.erase(listener);
        entry = entry->second.empty() ? closing.erase(entry) : std::next(entry);
    }
}

Table& TheTable()
{
    static Table table;
    return table;
}

const char* const kQueryClientName = "Vusk's MIDI subsystem";

} // namespace

OSStatus Client::Create(const std::string& name, MIDINotifyProc notifyProc, void* notifyRefCon,
                        MIDIClientRef* outClient)
{
    if (outClient == nullptr)
        return kMIDIErrParameter;
    *outClient = 0;
    Table& table = TheTable();
    // The lock spans the opening, so a listener of ours cannot take our own start for news.
    std::lock_guard<std::mutex> lock(table.mutex);
    SeqHandle seq = OpenSequencer(name);
    if (!seq)
        return kMIDIErrServerStart;
    const int alsaId = snd_seq_client_id(seq.get());
    const MIDIClientRef ref = MakeRef(ObjectKind::Client, table.nextNumber++);
    bool started = false;
    try
    {
        auto client = std::make_shared<Client>(ref, std::move(seq), notifyProc, notifyRefCon);
        table.clients[ref] = client;
        table.ownAlsaClients.insert(alsaId);
        started = client->Start();
    }
    catch (const std::exception&)
    {
        // Out of memory, descriptors or threads: this API reports by status, never by exception.
        started = false;
    }
    if (!started)
    {
        // No receive thread runs yet, so the client may close here under the lock.
        table.clients.erase(ref);
        table.ownAlsaClients.erase(alsaId);
        return kMIDIErrServerStart;
    }
    *outClient = ref;
    return 0;
}

OSStatus Client::Dispose(MIDIClientRef ref)
{
    Table& table = TheTable();
    std::shared_ptr<Client> client;
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        auto found = table.clients.find(ref);
        if (found == table.clients.end())
            return kMIDIErrInvalidClient;
        if (found->second->OnOwnThread())
            return kMIDIErrWrongThread;
        client = found->second;
        table.clients.erase(found);
        for (auto port = table.ports.begin(); port != table.ports.end();)
            port = port->second == ref ? table.ports.erase(port) : std::next(port);
        table.ownAlsaClients.erase(client->FAlsaId);
        std::set<MIDIClientRef> listeners;
        for (const auto& other : table.clients)
            if (other.second->FNotifyProc != nullptr)
                listeners.insert(other.first);
        if (!listeners.empty())
            table.closingAlsaClients[client->FAlsaId] = std::move(listeners);
        ForgetClosingClientsLocked(table.closingAlsaClients, ref);
    }
    client->Stop();
    std::map<int, std::shared_ptr<Port>> ports;
    {
        std::lock_guard<std::mutex> lock(client->FPortsMutex);
        ports.swap(client->FPorts);
    }
    for (auto& entry : ports)
    {
        {
            std::lock_guard<std::recursive_mutex> lock(entry.second->callbackMutex);
            entry.second->alive = false;
            entry.second->connections.clear();
        }
        std::lock_guard<std::mutex> lock(client->FOutputMutex);
        entry.second->open = false;
    }
    // The connection closes with the last reference, which a send in progress may still hold.
    return 0;
}

std::shared_ptr<Client> Client::Find(MIDIClientRef ref)
{
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto found = table.clients.find(ref);
    return found == table.clients.end() ? nullptr : found->second;
}

std::shared_ptr<Port> Client::FindPort(MIDIPortRef ref, std::shared_ptr<Client>* owner)
{
    Table& table = TheTable();
    std::shared_ptr<Client> client;
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        auto found = table.ports.find(ref);
        if (found == table.ports.end())
            return nullptr;
        client = table.clients.at(found->second);
    }
    std::lock_guard<std::mutex> lock(client->FPortsMutex);
    for (const auto& entry : client->FPorts)
        if (entry.second->ref == ref)
        {
            *owner = client;
            return entry.second;
        }
    return nullptr;
}

std::shared_ptr<Client> Client::First()
{
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.clients.empty() ? nullptr : table.clients.begin()->second;
}

bool Client::Query(const std::function<void(snd_seq_t*, const std::set<int>&)>& query)
{
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    snd_seq_t* seq = nullptr;
    if (!table.clients.empty())
        seq = table.clients.begin()->second->FSeq.get();
    else
    {
        if (!table.queryConnection)
        {
            table.queryConnection = OpenSequencer(kQueryClientName);
            if (table.queryConnection)
                table.ownAlsaClients.insert(snd_seq_client_id(table.queryConnection.get()));
        }
        seq = table.queryConnection.get();
    }
    if (seq == nullptr)
        return false;
    query(seq, table.ownAlsaClients);
    return true;
}

void Client::ForgetClosingClients(MIDIClientRef listener)
{
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    ForgetClosingClientsLocked(table.closingAlsaClients, listener);
}

bool Client::IsOwnAlsaClient(int alsaClient, bool exitSeen, MIDIClientRef listener)
{
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (table.ownAlsaClients.count(alsaClient) != 0)
        return true;
    auto closing = table.closingAlsaClients.find(alsaClient);
    if (closing == table.closingAlsaClients.end() || closing->second.count(listener) == 0)
        return false;
    if (exitSeen)
    {
        closing->second.erase(listener);
        if (closing->second.empty())
            table.closingAlsaClients.erase(closing);
    }
    return true;
}

Client::Client(MIDIClientRef ref, SeqHandle seq, MIDINotifyProc notifyProc, void* notifyRefCon)
    : FRef(ref),
      FSeq(std::move(seq)),
      FAlsaId(snd_seq_client_id(FSeq.get())),
      FNotifyProc(notifyProc),
      FNotifyRefCon(notifyRefCon),
      FRoom(ReceiverRoom::Process()),
      FDecoder(NewMidiCoder(16))
{
    // Room for paced output waiting in the queue and for long SysEx arriving in pieces; the
    // defaults hold only a few hundred sequencer cells (about 28 bytes each).
    snd_seq_set_client_pool_output(FSeq.get(), 2000);
    snd_seq_set_client_pool_input(FSeq.get(), 2000);
    snd_seq_set_input_buffer_size(FSeq.get(), 65536);
    // No call waits in the kernel: a send to a program that has stopped reading, or into our full
    // pool, is refused at once (AlsaSend.cpp bounds the waits), and the receive thread reads what
    // poll announced.
    snd_seq_nonblock(FSeq.get(), 1);
}

Client::~Client()
{
    Stop();
    // Closing the connection frees our queue and what waits in it: none of that comes any more,
    // and the queue's number may go to another client of ours.
    FSeq.reset();
    if (FQueue >= 0)
        FRoom->Forget(FQueue);
}

bool Client::Start()
{
    if (FNotifyProc != nullptr && !SubscribeAnnouncements())
        return false;
    FReceiver = std::thread(&Client::ReceiveLoop, this);
    return true;
}

bool Client::Stop()
{
    if (OnOwnThread())
        return false;
    {
        std::lock_guard<std::mutex> lock(FSysexMutex);
        FStopping = true;
    }
    FSysexWake.notify_all();
    FWake.Signal();
    if (FReceiver.joinable())
        FReceiver.join();
    if (FSysexThread.joinable())
        FSysexThread.join();
    return true;
}

bool Client::OnOwnThread() const
{
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(FSysexMutex);
    return self == FReceiver.get_id() || self == FSysexThread.get_id();
}

int NewSequencerPort(snd_seq_t* seq, const std::string& name, bool isInput)
{
    // No subscription rights for others: our ports are our own business, not endpoints another
    // program (or another copy of this one) should list. We connect them ourselves. An output
    // port is writable too, for the end marker it gets as a route (AlsaSend.cpp): the kernel hands
    // no event to a port without the write capability, not even one from its own client, and no
    // capability limits writing to the owner. So any program can write to it, and so fill our
    // input (AlsaReceive.cpp copes).
    return snd_seq_create_simple_port(seq, name.c_str(),
                                      isInput ? SND_SEQ_PORT_CAP_WRITE : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE,
                                      SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
}

OSStatus Client::NewPort(MIDIClientRef clientRef, bool isInput, const std::string& name,
                         MIDIReadProc readProc, void* refCon, MIDIPortRef* outPort)
{
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto found = table.clients.find(clientRef);
    if (found == table.clients.end())
        return kMIDIErrInvalidClient;
    Client& client = *found->second;
    if (!isInput && !client.EnsureQueue())
        return kMIDIErrServerStart;

    const int alsaPort = NewSequencerPort(client.FSeq.get(), name, isInput);
    if (alsaPort < 0)
        return kMIDIErrServerStart;

    auto port = std::make_shared<Port>();
    port->ref = MakeRef(ObjectKind::Port, table.nextNumber++);
    port->alsaPort = alsaPort;
    port->isInput = isInput;
    port->name = name;
    port->readProc = readProc;
    port->readProcRefCon = refCon;
    {
        std::lock_guard<std::mutex> portsLock(client.FPortsMutex);
        client.FPorts[port->alsaPort] = port;
    }
    table.ports[port->ref] = clientRef;
    *outPort = port->ref;
    return 0;
}

OSStatus Client::DisposePort(MIDIPortRef ref)
{
    std::shared_ptr<Client> client;
    std::shared_ptr<Port> port = FindPort(ref, &client);
    if (!port)
        return kMIDIErrInvalidPort;
    {
        Table& table = TheTable();
        std::lock_guard<std::mutex> lock(table.mutex);
        table.ports.erase(ref);
    }
    {
        // Waits for a read routine in progress on another thread.
        std::lock_guard<std::recursive_mutex> lock(port->callbackMutex);
        port->alive = false;
        port->connections.clear();
    }
    {
        std::lock_guard<std::mutex> lock(client->FPortsMutex);
        client->FPorts.erase(port->alsaPort);
    }
    // A send in progress finishes first; later ones find the port closed. The routes it held
    // end once nobody holds them and what waits in the queue for them has left, so a send that
    // was accepted still arrives, at its destination alone.
    std::lock_guard<std::mutex> lock(client->FOutputMutex);
    port->open = false;
    for (MIDIEndpointRef destination : port->routes)
        client->ReleaseRoute({ destination, false });
    port->routes.clear();
    port->coders.clear();
    // Deleting it ends its subscriptions too; one that serves as a route ends with the route.
    if (!port->lent)
        snd_seq_delete_simple_port(client->FSeq.get(), port->alsaPort);
    return 0;
}

namespace {

// kMIDIErrUnknownEndpoint when the source has gone (or another port has its address),
// kMIDIErrWrongEndpointType when it is not a source.
OSStatus CheckSource(snd_seq_t* seq, const Endpoint& source)
{
    snd_seq_port_info_t* info = nullptr;
    snd_seq_port_info_alloca(&info);
    if (!IsStillThere(seq, source, info))
        return kMIDIErrUnknownEndpoint;
    return IsEndpointPort(info, true) ? 0 : kMIDIErrWrongEndpointType;
}

} // namespace

OSStatus Client::Connect(Port& port, const Endpoint& endpoint, void* connRefCon)
{
    if (!port.isInput)
        return kMIDIErrInvalidPort;
    const OSStatus checked = CheckSource(FSeq.get(), endpoint);
    if (checked != 0)
        return checked;
    const Address source = endpoint.address;
    std::lock_guard<std::recursive_mutex> lock(port.callbackMutex);
    if (!port.alive)
        return kMIDIErrInvalidPort;
    auto existing = port.connections.find(AddressKey(source));
    if (existing != port.connections.end())
    {
        existing->second = connRefCon;
        return 0;
    }
    if (snd_seq_connect_from(FSeq.get(), port.alsaPort, source.client, source.port) < 0)
        return kMIDIErrMessageSend;
    port.connections[AddressKey(source)] = connRefCon;
    return 0;
}

OSStatus Client::Disconnect(Port& port, Address source)
{
    std::lock_guard<std::recursive_mutex> lock(port.callbackMutex);
    auto existing = port.connections.find(AddressKey(source));
    if (existing == port.connections.end())
        return kMIDIErrNoConnection;
    port.connections.erase(existing);
    // Fails when the source has gone, which has ended the subscription already.
    snd_seq_disconnect_from(FSeq.get(), port.alsaPort, source.client, source.port);
    return 0;
}

} // namespace Alsa

using Alsa::Client;
using Alsa::ObjectKind;

OSStatus MIDIClientCreate(SysStringRef name, MIDINotifyProc notifyProc, void* notifyRefCon,
                          MIDIClientRef* outClient)
{
    return Client::Create(SysStringGetCString(name), notifyProc, notifyRefCon, outClient);
}

OSStatus MIDIClientDispose(MIDIClientRef client)
{
    return Client::Dispose(client);
}

OSStatus MIDIInputPortCreate(MIDIClientRef client, SysStringRef portName, MIDIReadProc readProc,
                             void* readProcRefCon, MIDIPortRef* outPort)
{
    if (outPort == nullptr || readProc == nullptr)
        return kMIDIErrParameter;
    *outPort = 0;
    return Client::NewPort(client, true, SysStringGetCString(portName), readProc, readProcRefCon, outPort);
}

OSStatus MIDIOutputPortCreate(MIDIClientRef client, SysStringRef portName, MIDIPortRef* outPort)
{
    if (outPort == nullptr)
        return kMIDIErrParameter;
    *outPort = 0;
    return Client::NewPort(client, false, SysStringGetCString(portName), nullptr, nullptr, outPort);
}

OSStatus MIDIPortDispose(MIDIPortRef port)
{
    return Client::DisposePort(port);
}

OSStatus MIDIPortConnectSource(MIDIPortRef port, MIDIEndpointRef source, void* connRefCon)
{
    std::shared_ptr<Client> client;
    std::shared_ptr<Alsa::Port> found = Client::FindPort(port, &client);
    if (!found)
        return kMIDIErrInvalidPort;
    if (Alsa::KindOf(source) == ObjectKind::Destination)
        return kMIDIErrWrongEndpointType;
    Alsa::Endpoint endpoint;
    if (Alsa::KindOf(source) != ObjectKind::Source || !Alsa::EndpointOfRef(source, endpoint))
        return kMIDIErrUnknownEndpoint;
    return client->Connect(*found, endpoint, connRefCon);
}

OSStatus MIDIPortDisconnectSource(MIDIPortRef port, MIDIEndpointRef source)
{
    std::shared_ptr<Client> client;
    std::shared_ptr<Alsa::Port> found = Client::FindPort(port, &client);
    if (!found)
        return kMIDIErrInvalidPort;
    Alsa::Endpoint endpoint;
    if (Alsa::KindOf(source) != ObjectKind::Source || !Alsa::EndpointOfRef(source, endpoint))
        return kMIDIErrNoConnection;
    return client->Disconnect(*found, endpoint.address);
}
