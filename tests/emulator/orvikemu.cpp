// Test-only stand-in for libusb-1.0. Preloaded (LD_PRELOAD) into Debian's unmodified
// flashing tool, or linked into the tool built from its source for Windows, it shows one
// emulated DfuSe bootloader of the device. Its state lives in the directory named by
// ORVIK_EMU_DIR:
//   mode       "bootloader": the device is on the bus; anything else: no device.
//              Set to "run" when the device leaves for the application and to
//              "vanished" when it drops off during a download.
//   flash.bin  1 MiB of NOR flash at 0x08000000 (created 0xFF-filled).
//   fault      optional: none, access, no-driver (opening fails as with no WinUSB driver),
//              erase-stall, erase-error, vanish-download, vanish-leave, slow-erase.
//   appears-at optional: in "bootloader" mode, the device shows only from this time on
//              (milliseconds since the epoch), as a bootloader that comes back slowly.
//   driver-at  optional: until this time (milliseconds since the epoch), opening fails as with
//              no-driver, as on Windows while it binds the driver to a bootloader new to it.
//   events     appended, one line per DfuSe command received.
//   timing     optional: "ERASE WRITE", the milliseconds each KiB of a sector erase and each
//              data block take, as a real flash would, for the benchmarks.
//   claimed-at, first-write-at
//              written (milliseconds since the epoch) when a run claims the interface and
//              when it programs its first block, for the benchmarks.
//   hold       optional: a download waits at its first command until "go" exists (for at
//              most two minutes), having made "started", so that a test can look at the
//              updater while its flashing run is under way.
#include "orvikemu_platform.h"

#include <libusb.h>

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

struct libusb_context
{
    int unused;
};

struct libusb_device
{
    int unused;
};

struct libusb_device_handle
{
    libusb_device *device;
};

namespace {

constexpr uint32_t kFlashBase = 0x08000000;
constexpr uint32_t kFlashSize = 1024 * 1024;
constexpr uint16_t kTransferSize = 2048;
constexpr uint16_t kVendor = 0x0483;
constexpr uint16_t kProduct = 0xdf11;
constexpr uint16_t kRelease = 0x2200;
constexpr uint8_t kBus = 1;
constexpr uint8_t kAddress = 5;
constexpr uint8_t kPort = 1;
constexpr unsigned kErasePollMs = 2;
constexpr unsigned kSlowErasePollMs = 300;

// String descriptor indexes; 0 is the language list.
enum : uint8_t
{
    kStrManufacturer = 1,
    kStrProduct,
    kStrSerial,
    kStrAlt0
};
const char *const kStrings[] = {nullptr, "Orvik", "Orvik DFU bootloader", "4F52564B454D",
                                "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg"};

// Flash sectors, matching the memory map named by alt 0.
struct Sector
{
    uint32_t offset;
    uint32_t size;
};

Sector sectorAt(uint32_t offset)
{
    if (offset < 0x10000)
        return {offset & ~0x3fffu, 0x4000};
    if (offset < 0x20000)
        return {0x10000, 0x10000};
    return {offset & ~0x1ffffu, 0x20000};
}

enum DfuRequest : uint8_t
{
    DETACH = 0,
    DNLOAD,
    UPLOAD,
    GETSTATUS,
    CLRSTATUS,
    GETSTATE,
    ABORT
};

enum DfuState : uint8_t
{
    dfuIDLE = 2,
    dfuDNLOAD_SYNC = 3,
    dfuDNBUSY = 4,
    dfuDNLOAD_IDLE = 5,
    dfuMANIFEST_SYNC = 6,
    dfuMANIFEST = 7,
    dfuUPLOAD_IDLE = 9,
    dfuERROR = 10
};

enum DfuStatus : uint8_t
{
    OK = 0x00,
    errTARGET = 0x01,
    errERASE = 0x04,
    errADDRESS = 0x08,
    errSTALLEDPKT = 0x0f
};

enum class Fault
{
    None,
    Access,
    NoDriver,
    EraseStall,
    EraseError,
    VanishDownload,
    VanishLeave,
    SlowErase
};

enum class Command
{
    None,
    SetAddress,
    Erase,
    MassErase,
    Data,
    Leave
};

struct Emulator
{
    std::string dir;
    Fault fault = Fault::None;
    libusb_device device{};

    uint8_t state = dfuIDLE;
    uint8_t status = OK;
    uint32_t pointer = kFlashBase;
    Command pending = Command::None;
    uint32_t pendingAddress = 0;
    std::vector<uint8_t> pendingData;
    uint64_t busyUntilMs = 0;
    uint32_t erasedBytes = 0;
    uint32_t dataBlocks = 0;
    bool gone = false;
    bool held = false;
    unsigned eraseMsPerKib = 0;
    unsigned writeMsPerBlock = 0;
    bool claimStamped = false;
    bool writeStamped = false;
};

Emulator g;

uint64_t nowMs()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

std::string statePath(const char *name)
{
    return g.dir + "/" + name;
}

std::string readWord(const char *name)
{
    if (g.dir.empty())
        return {};
    FILE *file = std::fopen(statePath(name).c_str(), "r");
    if (!file)
        return {};
    char buffer[64] = {};
    const int fields = std::fscanf(file, "%63s", buffer);
    std::fclose(file);
    return fields == 1 ? buffer : std::string();
}

// Written through a rename so that a reader never sees a half-written mode.
void writeMode(const char *mode)
{
    const std::string path = statePath("mode");
    const std::string temporary = path + ".emu";
    FILE *file = std::fopen(temporary.c_str(), "w");
    if (!file)
        return;
    std::fprintf(file, "%s\n", mode);
    std::fclose(file);
    orvikemu::replaceFile(temporary, path);
}

void logEvent(const char *format, ...)
{
    char line[128];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (length <= 0 || g.dir.empty())
        return;
    // One write of the whole line, appended: readers see whole lines.
    FILE *file = std::fopen(statePath("events").c_str(), "ab");
    if (!file)
        return;
    std::fprintf(file, "%s\n", line);
    std::fclose(file);
}

uint64_t epochMs()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

bool devicePresent()
{
    if (g.gone || readWord("mode") != "bootloader")
        return false;
    const std::string appearsAt = readWord("appears-at");
    return appearsAt.empty() || epochMs() >= std::stoull(appearsAt);
}

bool driverBound()
{
    const std::string at = readWord("driver-at");
    return at.empty() || epochMs() >= std::stoull(at);
}

void stampOnce(const char *name, bool &done)
{
    if (done || g.dir.empty())
        return;
    done = true;
    if (FILE *file = std::fopen(statePath(name).c_str(), "w")) {
        std::fprintf(file, "%llu\n", static_cast<unsigned long long>(epochMs()));
        std::fclose(file);
    }
}

bool exists(const char *name)
{
    FILE *file = std::fopen(statePath(name).c_str(), "rb");
    if (file)
        std::fclose(file);
    return file != nullptr;
}

// Once per run, at the first command of a download.
void holdIfAsked()
{
    if (g.held || !exists("hold"))
        return;
    g.held = true;
    if (FILE *started = std::fopen(statePath("started").c_str(), "wb"))
        std::fclose(started);
    for (const uint64_t end = nowMs() + 120000; !exists("go") && nowMs() < end;)
        orvikemu::sleepMs(20);
}

// The flash file, opened for one access; binary, so that no byte is translated.
FILE *openFlash()
{
    const std::string path = statePath("flash.bin");
    FILE *file = std::fopen(path.c_str(), "r+b");
    return file ? file : std::fopen(path.c_str(), "w+b");
}

bool writeFlash(uint32_t offset, const uint8_t *data, size_t size)
{
    FILE *file = openFlash();
    if (!file)
        return false;
    const bool ok = std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
                    std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

bool readFlash(uint32_t offset, unsigned char *data, uint32_t size)
{
    FILE *file = openFlash();
    if (!file)
        return false;
    const bool ok = std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
                    std::fread(data, 1, size, file) == size;
    std::fclose(file);
    return ok;
}

void ensureFlash()
{
    FILE *file = openFlash();
    if (!file)
        return;
    long size = 0;
    if (std::fseek(file, 0, SEEK_END) == 0)
        size = std::ftell(file);
    std::fclose(file);
    // A missing flash file shows up as failed transfers later.
    if (size >= 0 && size < static_cast<long>(kFlashSize)) {
        const std::vector<uint8_t> erased(kFlashSize - static_cast<size_t>(size), 0xff);
        writeFlash(static_cast<uint32_t>(size), erased.data(), erased.size());
    }
}

bool fillFlash(uint32_t offset, uint32_t size)
{
    const std::vector<uint8_t> erased(size, 0xff);
    return writeFlash(offset, erased.data(), size);
}

// NOR programming: bits can only go from 1 to 0.
bool programFlash(uint32_t offset, const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> cells(data.size());
    if (!readFlash(offset, cells.data(), static_cast<uint32_t>(cells.size())))
        return false;
    for (size_t i = 0; i < cells.size(); ++i)
        cells[i] &= data[i];
    return writeFlash(offset, cells.data(), cells.size());
}

bool inFlash(uint32_t address, uint32_t size)
{
    return address >= kFlashBase && size <= kFlashSize && address - kFlashBase <= kFlashSize - size;
}

Fault parseFault(const std::string &word)
{
    if (word == "access")
        return Fault::Access;
    if (word == "no-driver")
        return Fault::NoDriver;
    if (word == "erase-stall")
        return Fault::EraseStall;
    if (word == "erase-error")
        return Fault::EraseError;
    if (word == "vanish-download")
        return Fault::VanishDownload;
    if (word == "vanish-leave")
        return Fault::VanishLeave;
    if (word == "slow-erase")
        return Fault::SlowErase;
    return Fault::None;
}

// The device drops off the bus: every later request fails.
int vanish(const char *mode)
{
    g.gone = true;
    writeMode(mode);
    return LIBUSB_ERROR_NO_DEVICE;
}

int stall(uint8_t status)
{
    g.state = dfuERROR;
    g.status = status;
    g.pending = Command::None;
    return LIBUSB_ERROR_PIPE;
}

int fail(uint8_t status)
{
    g.state = dfuERROR;
    g.status = status;
    g.pending = Command::None;
    return 0;
}

// Runs the command received with the last DNLOAD; returns a poll timeout.
unsigned execute()
{
    const Command command = g.pending;
    g.pending = Command::None;
    switch (command) {
    case Command::SetAddress:
        if (!inFlash(g.pendingAddress, 1))
            return fail(errTARGET);
        g.pointer = g.pendingAddress;
        return 0;
    case Command::Erase: {
        if (!inFlash(g.pendingAddress, 1))
            return fail(errTARGET);
        const Sector sector = sectorAt(g.pendingAddress - kFlashBase);
        if (!fillFlash(sector.offset, sector.size))
            return fail(errERASE);
        g.erasedBytes += sector.size;
        if (g.eraseMsPerKib)
            return g.eraseMsPerKib * (sector.size / 1024);
        return g.fault == Fault::SlowErase ? kSlowErasePollMs : kErasePollMs;
    }
    case Command::MassErase:
        if (!fillFlash(0, kFlashSize))
            return fail(errERASE);
        g.erasedBytes += kFlashSize;
        return kErasePollMs;
    case Command::Data:
        if (!inFlash(g.pendingAddress, static_cast<uint32_t>(g.pendingData.size())))
            return fail(errADDRESS);
        if (!programFlash(g.pendingAddress - kFlashBase, g.pendingData))
            return fail(errTARGET);
        stampOnce("first-write-at", g.writeStamped);
        ++g.dataBlocks;
        return g.writeMsPerBlock;
    case Command::None:
    case Command::Leave:
        break;
    }
    return 0;
}

int getStatus(unsigned char *data, uint16_t length)
{
    if (length < 6)
        return stall(errSTALLEDPKT);
    unsigned poll = 0;
    if (g.state == dfuDNLOAD_SYNC) {
        const Command command = g.pending;
        if (command == Command::Erase && g.fault == Fault::EraseStall)
            return stall(errSTALLEDPKT);
        if (command == Command::Erase && g.fault == Fault::EraseError)
            fail(errERASE);
        else
            poll = execute();
        if (g.state != dfuERROR) {
            g.state = dfuDNBUSY;
            g.busyUntilMs = nowMs() + poll;
        }
    } else if (g.state == dfuMANIFEST_SYNC) {
        g.pending = Command::None;
        if (g.fault == Fault::VanishLeave)
            return vanish("run");
        g.state = dfuMANIFEST;
    } else if (g.state == dfuDNBUSY) {
        const uint64_t now = nowMs();
        if (now >= g.busyUntilMs)
            g.state = dfuDNLOAD_IDLE;
        else
            poll = static_cast<unsigned>(g.busyUntilMs - now);
    }
    data[0] = g.status;
    data[1] = poll & 0xff;
    data[2] = (poll >> 8) & 0xff;
    data[3] = (poll >> 16) & 0xff;
    data[4] = g.state;
    data[5] = 0;
    // Once manifestation has been reported, the device restarts into the application.
    if (g.state == dfuMANIFEST) {
        g.gone = true;
        writeMode("run");
    }
    return 6;
}

int download(uint16_t block, const unsigned char *data, uint16_t length)
{
    if (g.state != dfuIDLE && g.state != dfuDNLOAD_IDLE)
        return stall(errSTALLEDPKT);
    if (length > kTransferSize)
        return stall(errSTALLEDPKT);
    holdIfAsked();
    if (length == 0) {
        logEvent("leave");
        g.pending = Command::Leave;
        g.state = dfuMANIFEST_SYNC;
        return 0;
    }
    if (block == 0) {
        const uint32_t address =
            length == 5 ? static_cast<uint32_t>(data[1] | data[2] << 8 | data[3] << 16) |
                              static_cast<uint32_t>(data[4]) << 24
                        : 0;
        if (data[0] == 0x21 && length == 5) {
            logEvent("set-address 0x%08x", address);
            g.pending = Command::SetAddress;
        } else if (data[0] == 0x41 && length == 5) {
            logEvent("erase 0x%08x", address);
            g.pending = Command::Erase;
        } else if (data[0] == 0x41 && length == 1) {
            logEvent("mass-erase");
            g.pending = Command::MassErase;
        } else {
            return stall(errSTALLEDPKT);
        }
        g.pendingAddress = address;
    } else if (block == 1) {
        return stall(errSTALLEDPKT);
    } else {
        if (g.fault == Fault::VanishDownload) {
            const uint32_t blocks = g.erasedBytes / kTransferSize / 2;
            if (g.dataBlocks >= (blocks ? blocks : 1))
                return vanish("vanished");
        }
        logEvent("download block %u len %u", block, length);
        g.pending = Command::Data;
        g.pendingAddress = g.pointer + (block - 2u) * kTransferSize;
        g.pendingData.assign(data, data + length);
    }
    g.state = dfuDNLOAD_SYNC;
    return length;
}

int upload(uint16_t block, unsigned char *data, uint16_t length)
{
    if (g.state != dfuIDLE && g.state != dfuUPLOAD_IDLE)
        return stall(errSTALLEDPKT);
    if (block == 0) {
        const unsigned char commands[] = {0x00, 0x21, 0x41, 0x92};
        const uint16_t size = length < sizeof commands ? length : sizeof commands;
        std::memcpy(data, commands, size);
        g.state = dfuUPLOAD_IDLE;
        return size;
    }
    if (block == 1)
        return stall(errSTALLEDPKT);
    const uint32_t address = g.pointer + (block - 2u) * kTransferSize;
    if (!inFlash(address, 1))
        return stall(errADDRESS);
    const uint32_t left = kFlashSize - (address - kFlashBase);
    const uint32_t size = length < left ? length : left;
    if (!readFlash(address - kFlashBase, data, size))
        return stall(errTARGET);
    g.state = size < length ? dfuIDLE : dfuUPLOAD_IDLE;
    return static_cast<int>(size);
}

int dfuRequest(uint8_t request, uint16_t value, unsigned char *data, uint16_t length)
{
    switch (request) {
    case DNLOAD:
        return download(value, data, length);
    case UPLOAD:
        return upload(value, data, length);
    case GETSTATUS:
        return getStatus(data, length);
    case CLRSTATUS:
    case ABORT:
        g.state = dfuIDLE;
        g.status = OK;
        g.pending = Command::None;
        return 0;
    case GETSTATE:
        if (length < 1)
            return stall(errSTALLEDPKT);
        data[0] = g.state;
        return 1;
    case DETACH: // Already in DFU mode: nothing to do.
        return 0;
    default:
        return stall(errSTALLEDPKT);
    }
}

void put16(std::vector<uint8_t> &bytes, uint16_t value)
{
    bytes.push_back(value & 0xff);
    bytes.push_back(value >> 8);
}

std::vector<uint8_t> functionalDescriptor()
{
    std::vector<uint8_t> bytes = {9, 0x21, 0x0b};
    put16(bytes, 255); // detach timeout, ms
    put16(bytes, kTransferSize);
    put16(bytes, 0x011a);
    return bytes;
}

// Configuration, DFU functional descriptor (the configuration's extra bytes),
// then the single interface.
std::vector<uint8_t> configDescriptor()
{
    std::vector<uint8_t> bytes = {9, LIBUSB_DT_CONFIG, 27, 0, 1, 1, 0, 0xc0, 50};
    const std::vector<uint8_t> functional = functionalDescriptor();
    bytes.insert(bytes.end(), functional.begin(), functional.end());
    const std::vector<uint8_t> interface = {9, LIBUSB_DT_INTERFACE, 0, 0, 0, 0xfe, 1, 2, kStrAlt0};
    bytes.insert(bytes.end(), interface.begin(), interface.end());
    return bytes;
}

std::vector<uint8_t> stringDescriptor(uint8_t index)
{
    if (index == 0)
        return {4, LIBUSB_DT_STRING, 0x09, 0x04};
    if (index >= sizeof kStrings / sizeof kStrings[0])
        return {};
    std::vector<uint8_t> bytes = {0, LIBUSB_DT_STRING};
    for (const char *c = kStrings[index]; *c; ++c)
        put16(bytes, static_cast<uint8_t>(*c));
    bytes[0] = static_cast<uint8_t>(bytes.size());
    return bytes;
}

int getDescriptor(uint16_t value, unsigned char *data, uint16_t length)
{
    const uint8_t index = value & 0xff;
    std::vector<uint8_t> bytes;
    switch (value >> 8) {
    case LIBUSB_DT_DEVICE:
        bytes = {LIBUSB_DT_DEVICE_SIZE, LIBUSB_DT_DEVICE, 0x00, 0x02, 0, 0, 0, 64};
        put16(bytes, kVendor);
        put16(bytes, kProduct);
        put16(bytes, kRelease);
        bytes.insert(bytes.end(), {kStrManufacturer, kStrProduct, kStrSerial, 1});
        break;
    case LIBUSB_DT_CONFIG:
        if (index == 0)
            bytes = configDescriptor();
        break;
    case LIBUSB_DT_STRING:
        bytes = stringDescriptor(index);
        break;
    case 0x21:
        bytes = functionalDescriptor();
        break;
    default:
        break;
    }
    if (bytes.empty())
        return LIBUSB_ERROR_PIPE;
    const size_t size = bytes.size() < length ? bytes.size() : length;
    std::memcpy(data, bytes.data(), size);
    return static_cast<int>(size);
}

struct ConfigBundle
{
    libusb_config_descriptor config; // first, so the bundle is freed through it
    libusb_interface interface;
    libusb_interface_descriptor alt;
    unsigned char extra[9];
};

} // namespace

extern "C" {

int libusb_init(libusb_context **context)
{
    const char *dir = std::getenv("ORVIK_EMU_DIR");
    g.dir = dir ? dir : "";
    g.fault = parseFault(readWord("fault"));
    if (FILE *timing = g.dir.empty() ? nullptr : std::fopen(statePath("timing").c_str(), "r")) {
        if (std::fscanf(timing, "%u %u", &g.eraseMsPerKib, &g.writeMsPerBlock) != 2)
            g.eraseMsPerKib = g.writeMsPerBlock = 0;
        std::fclose(timing);
    }
    if (!g.dir.empty())
        ensureFlash();
    if (context)
        *context = new libusb_context{};
    return LIBUSB_SUCCESS;
}

void libusb_exit(libusb_context *context)
{
    delete context;
}

int libusb_set_option(libusb_context *, enum libusb_option, ...)
{
    return LIBUSB_SUCCESS;
}

const struct libusb_version *libusb_get_version(void)
{
    static const libusb_version version = {1, 0, 26, 0, "", "orvik emulator"};
    return &version;
}

ssize_t libusb_get_device_list(libusb_context *, libusb_device ***list)
{
    const bool present = devicePresent();
    *list = static_cast<libusb_device **>(std::calloc(2, sizeof(libusb_device *)));
    if (!*list)
        return LIBUSB_ERROR_NO_MEM;
    if (present)
        (*list)[0] = &g.device;
    return present ? 1 : 0;
}

void libusb_free_device_list(libusb_device **list, int)
{
    std::free(list);
}

libusb_device *libusb_ref_device(libusb_device *device)
{
    return device;
}

void libusb_unref_device(libusb_device *) {}

int libusb_get_device_descriptor(libusb_device *, struct libusb_device_descriptor *descriptor)
{
    *descriptor = {};
    descriptor->bLength = LIBUSB_DT_DEVICE_SIZE;
    descriptor->bDescriptorType = LIBUSB_DT_DEVICE;
    descriptor->bcdUSB = 0x0200;
    descriptor->bMaxPacketSize0 = 64;
    descriptor->idVendor = kVendor;
    descriptor->idProduct = kProduct;
    descriptor->bcdDevice = kRelease;
    descriptor->iManufacturer = kStrManufacturer;
    descriptor->iProduct = kStrProduct;
    descriptor->iSerialNumber = kStrSerial;
    descriptor->bNumConfigurations = 1;
    return LIBUSB_SUCCESS;
}

int libusb_get_config_descriptor(libusb_device *, uint8_t index,
                                 struct libusb_config_descriptor **config)
{
    if (index != 0)
        return LIBUSB_ERROR_NOT_FOUND;
    const std::vector<uint8_t> raw = configDescriptor();
    auto *bundle = new ConfigBundle{};
    std::memcpy(bundle->extra, raw.data() + 9, sizeof bundle->extra);

    libusb_interface_descriptor &alt = bundle->alt;
    alt.bLength = LIBUSB_DT_INTERFACE_SIZE;
    alt.bDescriptorType = LIBUSB_DT_INTERFACE;
    alt.bInterfaceClass = 0xfe;
    alt.bInterfaceSubClass = 0x01;
    alt.bInterfaceProtocol = 0x02;
    alt.iInterface = kStrAlt0;
    bundle->interface.altsetting = &alt;
    bundle->interface.num_altsetting = 1;

    libusb_config_descriptor &c = bundle->config;
    c.bLength = LIBUSB_DT_CONFIG_SIZE;
    c.bDescriptorType = LIBUSB_DT_CONFIG;
    c.wTotalLength = static_cast<uint16_t>(raw.size());
    c.bNumInterfaces = 1;
    c.bConfigurationValue = 1;
    c.bmAttributes = 0xc0;
    c.MaxPower = 50;
    c.interface = &bundle->interface;
    c.extra = bundle->extra;
    c.extra_length = sizeof bundle->extra;
    *config = &c;
    return LIBUSB_SUCCESS;
}

void libusb_free_config_descriptor(struct libusb_config_descriptor *config)
{
    delete reinterpret_cast<ConfigBundle *>(config);
}

uint8_t libusb_get_bus_number(libusb_device *)
{
    return kBus;
}

uint8_t libusb_get_device_address(libusb_device *)
{
    return kAddress;
}

int libusb_get_port_numbers(libusb_device *, uint8_t *ports, int length)
{
    if (length < 1)
        return LIBUSB_ERROR_OVERFLOW;
    ports[0] = kPort;
    return 1;
}

int libusb_open(libusb_device *device, libusb_device_handle **handle)
{
    if (!devicePresent())
        return LIBUSB_ERROR_NO_DEVICE;
    if (g.fault == Fault::Access)
        return LIBUSB_ERROR_ACCESS;
    if (g.fault == Fault::NoDriver || !driverBound())
        return LIBUSB_ERROR_NOT_SUPPORTED;
    *handle = new libusb_device_handle{device};
    return LIBUSB_SUCCESS;
}

void libusb_close(libusb_device_handle *handle)
{
    delete handle;
}

int libusb_claim_interface(libusb_device_handle *, int interface)
{
    if (g.gone)
        return LIBUSB_ERROR_NO_DEVICE;
    stampOnce("claimed-at", g.claimStamped);
    return interface == 0 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

int libusb_release_interface(libusb_device_handle *, int interface)
{
    if (g.gone)
        return LIBUSB_ERROR_NO_DEVICE;
    return interface == 0 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

int libusb_set_interface_alt_setting(libusb_device_handle *, int interface, int alt)
{
    if (g.gone)
        return LIBUSB_ERROR_NO_DEVICE;
    return interface == 0 && alt == 0 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

int libusb_reset_device(libusb_device_handle *)
{
    if (g.gone)
        return LIBUSB_ERROR_NOT_FOUND;
    g.state = dfuIDLE;
    g.status = OK;
    g.pending = Command::None;
    return LIBUSB_SUCCESS;
}

int libusb_control_transfer(libusb_device_handle *, uint8_t requestType, uint8_t request,
                            uint16_t value, uint16_t index, unsigned char *data, uint16_t length,
                            unsigned int)
{
    if (g.gone)
        return LIBUSB_ERROR_NO_DEVICE;
    if (length && !data)
        return LIBUSB_ERROR_INVALID_PARAM;
    const uint8_t type = requestType & 0x60;
    if (type == LIBUSB_REQUEST_TYPE_STANDARD && request == LIBUSB_REQUEST_GET_DESCRIPTOR &&
        (requestType & LIBUSB_ENDPOINT_IN))
        return getDescriptor(value, data, length);
    if (type == LIBUSB_REQUEST_TYPE_CLASS && (requestType & 0x1f) == LIBUSB_RECIPIENT_INTERFACE &&
        index == 0)
        return dfuRequest(request, value, data, length);
    return LIBUSB_ERROR_PIPE;
}

const char *libusb_error_name(int code)
{
    switch (code) {
    case LIBUSB_SUCCESS:
        return "LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED";
    case LIBUSB_ERROR_IO:
        return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM:
        return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS:
        return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE:
        return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND:
        return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY:
        return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT:
        return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW:
        return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE:
        return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED:
        return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM:
        return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER:
        return "LIBUSB_ERROR_OTHER";
    default:
        return "**UNKNOWN**";
    }
}

} // extern "C"
