#include "maintenance/minidump_writer.h"

#include "maintenance/minidump_format.h"

#include <cpuid.h>
#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>

#if !defined(__x86_64__)
#error "The minidump writer records x86-64 thread contexts only."
#endif

namespace minidump {
namespace {

// Everything the writer touches lives here, reserved before any crash (zero pages until used).
constexpr int kMaxThreads = 1024;
constexpr int kMaxMappings = 16384;
constexpr int kMaxModules = 2048;
constexpr int kMaxFaultSlots = 16;
constexpr std::size_t kMapsCapacity = 4 << 20;
constexpr std::size_t kSmallFileCapacity = 64 << 10;
constexpr std::size_t kIoBufferSize = 64 << 10;
constexpr uint64_t kMaxStackBytes = 512 << 10;
constexpr uint64_t kRedZone = 128;  // below the stack pointer, still the function's own
constexpr uint64_t kCodeAroundIp = 256;
constexpr long kResponseTimeoutMs = 2000;

// Reserved real-time signal that asks a thread to leave its registers and wait.
int SuspendSignal() {
    return SIGRTMAX - 4;
}

struct ThreadContext {
    greg_t gregs[NGREG];
    unsigned char fpstate[512];
    bool hasFp;
    bool hasIntegers;  // false: only the stack and instruction pointers are known
};

struct ThreadSlot {
    int tid;
    std::atomic<int> captured;
    ThreadContext context;
    uint64_t stackStart;
    uint32_t stackSize;
    uint32_t stackRva;
    uint32_t contextRva;
};

struct FaultSlot {
    std::atomic<int> tid;
    std::atomic<int> ready;
    ThreadContext context;
};

struct Mapping {
    uint64_t start;
    uint64_t end;
    uint64_t offset;
    bool readable;
    bool executable;
    const char* path;
    uint32_t pathLength;
};

struct ModuleEntry {
    uint64_t base;
    uint64_t end;
    const char* path;
    uint32_t pathLength;
    unsigned char buildId[64];
    uint32_t buildIdLength;
    uint32_t nameRva;
    uint32_t cvRva;
    uint32_t cvSize;
};

struct MemoryRange {
    uint64_t start;
    uint32_t size;
    uint32_t rva;
};

ThreadSlot g_threads[kMaxThreads];
int g_threadCount = 0;
FaultSlot g_faultSlots[kMaxFaultSlots];
std::atomic<int> g_collecting{0};
std::atomic<int> g_responses{0};  // futex word: threads that answered the suspend signal
std::atomic<int> g_release{0};    // futex word: never set while the process lives

char g_maps[kMapsCapacity];
std::size_t g_mapsLength = 0;
Mapping g_mappings[kMaxMappings];
int g_mappingCount = 0;
ModuleEntry g_modules[kMaxModules];
int g_moduleCount = 0;
char g_smallFile[kSmallFileCapacity];
char g_ioBuffer[kIoBufferSize];
char g_copyBuffer[kIoBufferSize];
char g_direntBuffer[16 << 10];
uint16_t g_utf16[8192];
MemoryRange g_extraMemory;
bool g_hasExtraMemory = false;

// Prepared at installation.
SystemInfo g_systemInfo{};
char g_osDescription[512];
std::size_t g_osDescriptionLength = 0;
char g_exePath[4096];
std::size_t g_exePathLength = 0;

// --- small async-signal-safe tools ---------------------------------------------------------

int CurrentTid() {
    return static_cast<int>(::syscall(SYS_gettid));
}

long FutexWait(std::atomic<int>* word, int expected, const timespec* timeout) {
    return ::syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAIT_PRIVATE, expected, timeout, nullptr,
                     0);
}

void FutexWake(std::atomic<int>* word) {
    ::syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAKE_PRIVATE, 1 << 30, nullptr, nullptr, 0);
}

[[noreturn]] void WaitForever() {
    for (;;)
        FutexWait(&g_release, 0, nullptr);
}

long NowMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// Reads a whole (proc) file into buffer; returns the length read.
std::size_t ReadWholeFile(const char* path, char* buffer, std::size_t capacity) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::size_t used = 0;
    while (used < capacity) {
        const ssize_t n = ::read(fd, buffer + used, capacity - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return used;
}

// Copies memory of this process without faulting on unmapped pages.
bool SafeCopy(void* destination, uint64_t source, std::size_t length) {
    iovec local{destination, length};
    iovec remote{reinterpret_cast<void*>(source), length};
    return ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(length);
}

char* AppendText(char* out, const char* end, const char* text) {
    while (*text && out < end)
        *out++ = *text++;
    return out;
}

char* AppendNumber(char* out, const char* end, unsigned long value) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (n > 0 && out < end)
        *out++ = digits[--n];
    return out;
}

uint64_t ParseHex(const char*& p, const char* end) {
    uint64_t value = 0;
    while (p < end) {
        const char c = *p;
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        value = value * 16 + static_cast<uint64_t>(digit);
        ++p;
    }
    return value;
}

void SkipSpaces(const char*& p, const char* end) {
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
}

void SkipField(const char*& p, const char* end) {
    while (p < end && *p != ' ' && *p != '\t' && *p != '\n')
        ++p;
}

// --- the output file --------------------------------------------------------------------------

class DumpFile {
public:
    explicit DumpFile(int fd) : fd_(fd) {}

    uint32_t Position() const { return static_cast<uint32_t>(position_); }
    bool Failed() const { return failed_; }

    uint32_t Write(const void* data, std::size_t length) {
        const uint32_t rva = Position();
        const char* bytes = static_cast<const char*>(data);
        while (length > 0) {
            const std::size_t room = kIoBufferSize - used_;
            const std::size_t chunk = length < room ? length : room;
            std::memcpy(g_ioBuffer + used_, bytes, chunk);
            used_ += chunk;
            bytes += chunk;
            length -= chunk;
            position_ += chunk;
            if (used_ == kIoBufferSize)
                Flush();
        }
        if (position_ > 0xffffffffULL)
            failed_ = true;  // RVAs are 32 bits wide
        return rva;
    }

    void WriteZeros(std::size_t length) {
        static const char zeros[256] = {};
        while (length > 0) {
            const std::size_t chunk = length < sizeof zeros ? length : sizeof zeros;
            Write(zeros, chunk);
            length -= chunk;
        }
    }

    void Align(std::size_t alignment) {
        const std::size_t rest = position_ % alignment;
        if (rest)
            WriteZeros(alignment - rest);
    }

    // Copies a range of the process's memory; pages that cannot be read come out as zeros.
    uint32_t WriteMemory(uint64_t address, std::size_t length) {
        const uint32_t rva = Position();
        while (length > 0) {
            const std::size_t chunk = length < kIoBufferSize ? length : kIoBufferSize;
            if (!SafeCopy(g_copyBuffer, address, chunk)) {
                for (std::size_t done = 0; done < chunk; done += 4096) {
                    const std::size_t piece = chunk - done < 4096 ? chunk - done : 4096;
                    if (!SafeCopy(g_copyBuffer + done, address + done, piece))
                        std::memset(g_copyBuffer + done, 0, piece);
                }
            }
            Write(g_copyBuffer, chunk);
            address += chunk;
            length -= chunk;
        }
        return rva;
    }

    void Flush() {
        std::size_t done = 0;
        while (done < used_) {
            const ssize_t n = ::write(fd_, g_ioBuffer + done, used_ - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                failed_ = true;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        used_ = 0;
    }

    void WriteAt(uint64_t offset, const void* data, std::size_t length) {
        const char* bytes = static_cast<const char*>(data);
        while (length > 0) {
            const ssize_t n = ::pwrite(fd_, bytes, length, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                failed_ = true;
                return;
            }
            bytes += n;
            offset += static_cast<uint64_t>(n);
            length -= static_cast<std::size_t>(n);
        }
    }

private:
    int fd_;
    uint64_t position_ = 0;
    std::size_t used_ = 0;
    bool failed_ = false;
};

// --- thread contexts ------------------------------------------------------------------------

void CaptureContext(const ucontext_t* uc, ThreadContext* out) {
    std::memcpy(out->gregs, uc->uc_mcontext.gregs, sizeof out->gregs);
    out->hasIntegers = true;
    out->hasFp = uc->uc_mcontext.fpregs != nullptr;
    if (out->hasFp)
        std::memcpy(out->fpstate, uc->uc_mcontext.fpregs, sizeof out->fpstate);
}

ThreadSlot* FindSlot(int tid) {
    for (int i = 0; i < g_threadCount; ++i)
        if (g_threads[i].tid == tid)
            return &g_threads[i];
    return nullptr;
}

void OnSuspendSignal(int, siginfo_t* info, void* context) {
    if (!g_collecting.load() || info->si_pid != ::getpid())
        return;
    ThreadSlot* slot = FindSlot(CurrentTid());
    if (!slot || slot->captured.load())
        return;
    CaptureContext(static_cast<const ucontext_t*>(context), &slot->context);
    slot->captured.store(1);
    g_responses.fetch_add(1);
    FutexWake(&g_responses);
    WaitForever();  // the stack must not change while it is copied
}

void ListThreads() {
    g_threadCount = 0;
    const int fd = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    for (;;) {
        const long n = ::syscall(SYS_getdents64, fd, g_direntBuffer, sizeof g_direntBuffer);
        if (n <= 0)
            break;
        for (long offset = 0; offset < n;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(g_direntBuffer + offset);
            offset += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] < '0' || name[0] > '9' || g_threadCount >= kMaxThreads)
                continue;
            int tid = 0;
            for (; *name >= '0' && *name <= '9'; ++name)
                tid = tid * 10 + (*name - '0');
            ThreadSlot& slot = g_threads[g_threadCount++];
            slot.tid = tid;
            slot.captured.store(0);
            slot.context.hasIntegers = false;
            slot.context.hasFp = false;
            std::memset(slot.context.gregs, 0, sizeof slot.context.gregs);
            slot.stackSize = 0;
            slot.stackRva = 0;
            slot.contextRva = 0;
        }
    }
    ::close(fd);
}

char* TaskPath(char* buffer, std::size_t size, int tid, const char* leaf) {
    char* end = buffer + size - 1;
    char* p = AppendText(buffer, end, "/proc/self/task/");
    p = AppendNumber(p, end, static_cast<unsigned long>(tid));
    p = AppendText(p, end, "/");
    p = AppendText(p, end, leaf);
    *p = '\0';
    return buffer;
}

// A thread that blocks the suspend signal cannot answer it.
bool BlocksSuspendSignal(int tid) {
    char path[64];
    const std::size_t length =
        ReadWholeFile(TaskPath(path, sizeof path, tid, "status"), g_smallFile, sizeof g_smallFile);
    const char* end = g_smallFile + length;
    for (const char* p = g_smallFile; p < end; ++p) {
        if ((p == g_smallFile || p[-1] == '\n') && end - p > 7 && std::memcmp(p, "SigBlk:", 7) == 0) {
            p += 7;
            SkipSpaces(p, end);
            const uint64_t mask = ParseHex(p, end);
            return (mask >> (SuspendSignal() - 1)) & 1;
        }
    }
    return false;
}

// For a thread that did not answer: the stack and instruction pointers the kernel shows while
// the thread waits in a system call ("nr args... sp pc").
void ContextFromSyscallFile(ThreadSlot* slot) {
    char path[64];
    const std::size_t length =
        ReadWholeFile(TaskPath(path, sizeof path, slot->tid, "syscall"), g_smallFile, sizeof g_smallFile);
    const char* end = g_smallFile + length;
    const char* fields[16];
    int count = 0;
    for (const char* p = g_smallFile; p < end && count < 16;) {
        SkipSpaces(p, end);
        if (p >= end || *p == '\n')
            break;
        fields[count++] = p;
        SkipField(p, end);
    }
    if (count < 3 || fields[count - 1][0] != '0')
        return;  // "running": nothing known
    const char* sp = fields[count - 2] + 2;
    const char* pc = fields[count - 1] + 2;
    slot->context.gregs[REG_RSP] = static_cast<greg_t>(ParseHex(sp, end));
    slot->context.gregs[REG_RIP] = static_cast<greg_t>(ParseHex(pc, end));
}

void SuspendOtherThreads(int self) {
    int expected = 0;
    g_responses.store(0);
    g_collecting.store(1);
    const pid_t pid = ::getpid();
    for (int i = 0; i < g_threadCount; ++i) {
        ThreadSlot& slot = g_threads[i];
        if (slot.tid == self)
            continue;
        bool parked = false;
        for (FaultSlot& fault : g_faultSlots) {
            if (fault.tid.load() == slot.tid && fault.ready.load()) {
                slot.context = fault.context;
                slot.captured.store(1);
                parked = true;
                break;
            }
        }
        if (parked || BlocksSuspendSignal(slot.tid))
            continue;
        if (::syscall(SYS_tgkill, pid, slot.tid, SuspendSignal()) == 0)
            ++expected;
    }
    const long deadline = NowMs() + kResponseTimeoutMs;
    for (int seen = g_responses.load(); seen < expected; seen = g_responses.load()) {
        const long left = deadline - NowMs();
        if (left <= 0)
            break;
        timespec wait{left / 1000, (left % 1000) * 1000000};
        FutexWait(&g_responses, seen, &wait);
    }
    for (int i = 0; i < g_threadCount; ++i) {
        ThreadSlot& slot = g_threads[i];
        if (slot.tid != self && !slot.captured.load())
            ContextFromSyscallFile(&slot);
    }
}

void FillContext(const ThreadContext& in, ContextAmd64* out) {
    std::memset(out, 0, sizeof *out);
    const greg_t* g = in.gregs;
    out->contextFlags = kContextControl;
    out->rsp = static_cast<uint64_t>(g[REG_RSP]);
    out->rip = static_cast<uint64_t>(g[REG_RIP]);
    if (!in.hasIntegers)
        return;
    out->contextFlags = kContextControl | kContextInteger | kContextSegments;
    out->rax = static_cast<uint64_t>(g[REG_RAX]);
    out->rbx = static_cast<uint64_t>(g[REG_RBX]);
    out->rcx = static_cast<uint64_t>(g[REG_RCX]);
    out->rdx = static_cast<uint64_t>(g[REG_RDX]);
    out->rsi = static_cast<uint64_t>(g[REG_RSI]);
    out->rdi = static_cast<uint64_t>(g[REG_RDI]);
    out->rbp = static_cast<uint64_t>(g[REG_RBP]);
    out->r8 = static_cast<uint64_t>(g[REG_R8]);
    out->r9 = static_cast<uint64_t>(g[REG_R9]);
    out->r10 = static_cast<uint64_t>(g[REG_R10]);
    out->r11 = static_cast<uint64_t>(g[REG_R11]);
    out->r12 = static_cast<uint64_t>(g[REG_R12]);
    out->r13 = static_cast<uint64_t>(g[REG_R13]);
    out->r14 = static_cast<uint64_t>(g[REG_R14]);
    out->r15 = static_cast<uint64_t>(g[REG_R15]);
    out->eflags = static_cast<uint32_t>(g[REG_EFL]);
    const uint64_t segments = static_cast<uint64_t>(g[REG_CSGSFS]);
    out->cs = static_cast<uint16_t>(segments & 0xffff);
    out->gs = static_cast<uint16_t>((segments >> 16) & 0xffff);
    out->fs = static_cast<uint16_t>((segments >> 32) & 0xffff);
    out->ss = 0x2b;  // the user stack segment; the signal frame does not carry it
    if (in.hasFp) {
        out->contextFlags |= kContextFloatingPoint;
        std::memcpy(out->fltSave, in.fpstate, sizeof out->fltSave);
        std::memcpy(&out->mxCsr, in.fpstate + 24, sizeof out->mxCsr);
    }
}

// --- maps and modules -------------------------------------------------------------------------

void ParseMaps() {
    g_mappingCount = 0;
    const char* p = g_maps;
    const char* end = g_maps + g_mapsLength;
    while (p < end && g_mappingCount < kMaxMappings) {
        const char* lineEnd = p;
        while (lineEnd < end && *lineEnd != '\n')
            ++lineEnd;
        Mapping m{};
        m.start = ParseHex(p, lineEnd);
        if (p < lineEnd && *p == '-')
            ++p;
        m.end = ParseHex(p, lineEnd);
        SkipSpaces(p, lineEnd);
        if (lineEnd - p >= 4) {
            m.readable = p[0] == 'r';
            m.executable = p[2] == 'x';
        }
        SkipField(p, lineEnd);
        SkipSpaces(p, lineEnd);
        m.offset = ParseHex(p, lineEnd);
        SkipSpaces(p, lineEnd);
        SkipField(p, lineEnd);  // device
        SkipSpaces(p, lineEnd);
        SkipField(p, lineEnd);  // inode
        SkipSpaces(p, lineEnd);
        m.path = p;
        m.pathLength = static_cast<uint32_t>(lineEnd - p);
        if (m.end > m.start)
            g_mappings[g_mappingCount++] = m;
        p = lineEnd < end ? lineEnd + 1 : end;
    }
}

const Mapping* MappingAt(uint64_t address) {
    for (int i = 0; i < g_mappingCount; ++i)
        if (g_mappings[i].start <= address && address < g_mappings[i].end)
            return &g_mappings[i];
    return nullptr;
}

bool SamePath(const Mapping& a, const char* path, uint32_t length) {
    return a.pathLength == length && std::memcmp(a.path, path, length) == 0;
}

void ReadBuildId(ModuleEntry* module) {
    module->buildIdLength = 0;
    Elf64_Ehdr header;
    if (!SafeCopy(&header, module->base, sizeof header) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_phentsize != sizeof(Elf64_Phdr))
        return;
    Elf64_Phdr phdrs[64];
    const int count = header.e_phnum < 64 ? header.e_phnum : 64;
    if (!SafeCopy(phdrs, module->base + header.e_phoff, count * sizeof(Elf64_Phdr)))
        return;
    uint64_t bias = module->base;
    for (int i = 0; i < count; ++i) {
        if (phdrs[i].p_type == PT_LOAD) {
            bias = module->base - (phdrs[i].p_vaddr - phdrs[i].p_offset);
            break;
        }
    }
    for (int i = 0; i < count; ++i) {
        if (phdrs[i].p_type != PT_NOTE)
            continue;
        const std::size_t size = phdrs[i].p_memsz < 4096 ? phdrs[i].p_memsz : 4096;
        unsigned char* notes = reinterpret_cast<unsigned char*>(g_copyBuffer);
        if (!SafeCopy(notes, bias + phdrs[i].p_vaddr, size))
            continue;
        std::size_t offset = 0;
        while (offset + sizeof(Elf64_Nhdr) <= size) {
            Elf64_Nhdr note;
            std::memcpy(&note, notes + offset, sizeof note);
            const std::size_t nameAt = offset + sizeof note;
            const std::size_t descAt = nameAt + ((note.n_namesz + 3) & ~3u);
            const std::size_t next = descAt + ((note.n_descsz + 3) & ~3u);
            if (next > size)
                break;
            if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
                std::memcmp(notes + nameAt, "GNU", 4) == 0 && note.n_descsz > 0 &&
                note.n_descsz <= sizeof module->buildId) {
                std::memcpy(module->buildId, notes + descAt, note.n_descsz);
                module->buildIdLength = note.n_descsz;
                return;
            }
            offset = next;
        }
    }
}

bool IsElf(uint64_t base) {
    char magic[SELFMAG];
    return SafeCopy(magic, base, sizeof magic) && std::memcmp(magic, ELFMAG, SELFMAG) == 0;
}

// Every mapped ELF file with code: its first mapping (offset 0) to the last mapping of the
// same file that follows it. The executable comes first, as readers take the first module
// for the main one.
void CollectModules() {
    g_moduleCount = 0;
    for (int i = 0; i < g_mappingCount; ++i) {
        const Mapping& first = g_mappings[i];
        if (first.offset != 0 || first.pathLength == 0 || first.path[0] != '/')
            continue;
        uint64_t end = first.end;
        bool executable = first.executable;
        int j = i + 1;
        for (; j < g_mappingCount; ++j) {
            const Mapping& next = g_mappings[j];
            if (next.pathLength == 0) {
                continue;  // anonymous pieces (bss) between a file's mappings
            }
            if (!SamePath(next, first.path, first.pathLength) || next.offset == 0)
                break;
            end = next.end;
            executable = executable || next.executable;
        }
        if (!executable || g_moduleCount >= kMaxModules || !IsElf(first.start))
            continue;
        ModuleEntry& module = g_modules[g_moduleCount++];
        module.base = first.start;
        module.end = end;
        module.path = first.path;
        module.pathLength = first.pathLength;
        ReadBuildId(&module);
        if (g_moduleCount > 1 && module.pathLength == g_exePathLength &&
            std::memcmp(module.path, g_exePath, g_exePathLength) == 0) {
            const ModuleEntry executableModule = module;
            for (int k = g_moduleCount - 1; k > 0; --k)
                g_modules[k] = g_modules[k - 1];
            g_modules[0] = executableModule;
        }
    }
}

// A MINIDUMP_STRING: byte length, UTF-16 text, a terminating zero.
uint32_t WriteString(DumpFile& file, const char* text, std::size_t length) {
    std::size_t units = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const auto* end = p + length;
    constexpr std::size_t kMaxUnits = sizeof g_utf16 / sizeof g_utf16[0] - 2;
    while (p < end && units < kMaxUnits) {
        uint32_t cp = *p++;
        int extra = 0;
        if (cp >= 0xf0 && cp < 0xf8) {
            cp &= 0x07;
            extra = 3;
        } else if (cp >= 0xe0) {
            cp &= 0x0f;
            extra = 2;
        } else if (cp >= 0xc0) {
            cp &= 0x1f;
            extra = 1;
        } else if (cp >= 0x80) {
            cp = 0xfffd;
        }
        for (; extra > 0; --extra) {
            if (p >= end || (*p & 0xc0) != 0x80) {
                cp = 0xfffd;
                break;
            }
            cp = (cp << 6) | (*p++ & 0x3f);
        }
        if (cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            cp = 0xfffd;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            g_utf16[units++] = static_cast<uint16_t>(0xd800 + (cp >> 10));
            g_utf16[units++] = static_cast<uint16_t>(0xdc00 + (cp & 0x3ff));
        } else {
            g_utf16[units++] = static_cast<uint16_t>(cp);
        }
    }
    g_utf16[units] = 0;
    file.Align(4);
    const uint32_t bytes = static_cast<uint32_t>(units * 2);
    const uint32_t rva = file.Write(&bytes, sizeof bytes);
    file.Write(g_utf16, units * 2 + 2);
    return rva;
}

// --- streams ----------------------------------------------------------------------------------

// The stack from just below the stack pointer to the top of its mapping (capped). A stack
// pointer in the guard page below (an overflow) starts at the mapping above it.
void PlaceStack(ThreadSlot* slot) {
    const uint64_t sp = static_cast<uint64_t>(slot->context.gregs[REG_RSP]);
    slot->stackSize = 0;
    if (sp == 0)
        return;
    const Mapping* stack = MappingAt(sp);
    if (!stack || !stack->readable)
        stack = MappingAt(sp + 4096 + kRedZone);
    if (!stack || !stack->readable)
        return;
    uint64_t start = sp > kRedZone ? sp - kRedZone : 0;
    if (start < stack->start)
        start = stack->start;
    uint64_t end = stack->end;
    if (end - start > kMaxStackBytes)
        end = start + kMaxStackBytes;
    if (end <= start)
        return;
    slot->stackStart = start;
    slot->stackSize = static_cast<uint32_t>(end - start);
}

void PlaceCodeAround(uint64_t ip) {
    g_hasExtraMemory = false;
    const Mapping* code = MappingAt(ip);
    if (!code || !code->readable)
        return;
    uint64_t start = ip > kCodeAroundIp / 2 ? ip - kCodeAroundIp / 2 : 0;
    uint64_t end = start + kCodeAroundIp;
    if (start < code->start)
        start = code->start;
    if (end > code->end)
        end = code->end;
    g_extraMemory.start = start;
    g_extraMemory.size = static_cast<uint32_t>(end - start);
    g_hasExtraMemory = end > start;
}

Directory WriteRawFile(DumpFile& file, uint32_t type, const char* path) {
    const std::size_t length = ReadWholeFile(path, g_smallFile, sizeof g_smallFile);
    file.Align(8);
    const uint32_t rva = file.Write(g_smallFile, length);
    return Directory{type, {static_cast<uint32_t>(length), rva}};
}

}  // namespace

void PrepareMinidumpWriter() {
    std::memset(&g_systemInfo, 0, sizeof g_systemInfo);
    g_systemInfo.processorArchitecture = kCpuArchitectureAmd64;
    g_systemInfo.platformId = kPlatformLinux;
    const long cpus = ::sysconf(_SC_NPROCESSORS_CONF);
    g_systemInfo.numberOfProcessors = static_cast<uint8_t>(cpus > 255 ? 255 : (cpus > 0 ? cpus : 1));
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
        g_systemInfo.vendorId[0] = ebx;
        g_systemInfo.vendorId[1] = edx;
        g_systemInfo.vendorId[2] = ecx;
    }
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        g_systemInfo.versionInformation = eax;
        g_systemInfo.featureInformation = edx;
        unsigned family = (eax >> 8) & 0xf;
        unsigned model = (eax >> 4) & 0xf;
        if (family == 0xf)
            family += (eax >> 20) & 0xff;
        if (family == 0x6 || family >= 0xf)
            model += ((eax >> 16) & 0xf) << 4;
        g_systemInfo.processorLevel = static_cast<uint16_t>(family);
        g_systemInfo.processorRevision = static_cast<uint16_t>((model << 8) | (eax & 0xf));
    }
    if (__get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx))
        g_systemInfo.amdExtendedCpuFeatures = edx;

    utsname names{};
    g_osDescriptionLength = 0;
    if (::uname(&names) == 0) {
        const char* release = names.release;
        unsigned parts[3] = {0, 0, 0};
        for (int i = 0; i < 3 && *release; ++i) {
            while (*release >= '0' && *release <= '9')
                parts[i] = parts[i] * 10 + static_cast<unsigned>(*release++ - '0');
            if (*release == '.')
                ++release;
            else
                break;
        }
        g_systemInfo.majorVersion = parts[0];
        g_systemInfo.minorVersion = parts[1];
        g_systemInfo.buildNumber = parts[2];
        char* out = g_osDescription;
        const char* end = g_osDescription + sizeof g_osDescription - 1;
        for (const char* part : {names.sysname, names.release, names.version, names.machine}) {
            if (out != g_osDescription && out < end)
                *out++ = ' ';
            out = AppendText(out, end, part);
        }
        g_osDescriptionLength = static_cast<std::size_t>(out - g_osDescription);
    }

    const ssize_t n = ::readlink("/proc/self/exe", g_exePath, sizeof g_exePath - 1);
    g_exePathLength = n > 0 ? static_cast<std::size_t>(n) : 0;

    struct sigaction action {};
    action.sa_sigaction = OnSuspendSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigfillset(&action.sa_mask);
    ::sigaction(SuspendSignal(), &action, nullptr);
}

void ParkFaultingThread(const ucontext_t* context) {
    const int tid = CurrentTid();
    for (FaultSlot& slot : g_faultSlots) {
        int free = 0;
        if (slot.tid.compare_exchange_strong(free, tid)) {
            CaptureContext(context, &slot.context);
            slot.ready.store(1);
            break;
        }
    }
    WaitForever();
}

bool WriteMinidump(int fd, const CrashInfo& crash) {
    const int self = crash.tid ? crash.tid : CurrentTid();
    g_mapsLength = ReadWholeFile("/proc/self/maps", g_maps, sizeof g_maps);
    ParseMaps();
    ListThreads();
    SuspendOtherThreads(self);

    ThreadSlot* crashing = FindSlot(self);
    if (!crashing && g_threadCount < kMaxThreads) {
        crashing = &g_threads[g_threadCount++];
        crashing->tid = self;
    }
    if (crashing && crash.context) {
        CaptureContext(crash.context, &crashing->context);
        crashing->captured.store(1);
    }
    if (crashing)
        PlaceCodeAround(static_cast<uint64_t>(crashing->context.gregs[REG_RIP]));

    DumpFile file(fd);
    constexpr int kStreams = 10;
    Header header{kSignature, kVersion, kStreams, sizeof(Header), 0, 0, 0};
    header.timeDateStamp = static_cast<uint32_t>(::time(nullptr));
    Directory directory[kStreams] = {};
    file.Write(&header, sizeof header);
    file.Write(directory, sizeof directory);

    // Thread contexts and stacks first, so that the lists can point at them.
    ContextAmd64 context;
    for (int i = 0; i < g_threadCount; ++i) {
        ThreadSlot& slot = g_threads[i];
        FillContext(slot.context, &context);
        file.Align(16);
        slot.contextRva = file.Write(&context, sizeof context);
        PlaceStack(&slot);
        if (slot.stackSize) {
            file.Align(16);
            slot.stackRva = file.WriteMemory(slot.stackStart, slot.stackSize);
        }
    }
    if (g_hasExtraMemory) {
        file.Align(16);
        g_extraMemory.rva = file.WriteMemory(g_extraMemory.start, g_extraMemory.size);
    }

    int s = 0;
    {
        file.Align(8);
        const uint32_t count = static_cast<uint32_t>(g_threadCount);
        const uint32_t rva = file.Write(&count, sizeof count);
        for (int i = 0; i < g_threadCount; ++i) {
            const ThreadSlot& slot = g_threads[i];
            Thread thread{};
            thread.threadId = static_cast<uint32_t>(slot.tid);
            thread.stack.startOfMemoryRange = slot.stackSize ? slot.stackStart : 0;
            thread.stack.memory = {slot.stackSize, slot.stackSize ? slot.stackRva : 0};
            thread.threadContext = {sizeof(ContextAmd64), slot.contextRva};
            file.Write(&thread, sizeof thread);
        }
        directory[s++] = {kThreadListStream, {file.Position() - rva, rva}};
    }
    {
        file.Align(8);
        uint32_t count = g_hasExtraMemory ? 1 : 0;
        for (int i = 0; i < g_threadCount; ++i)
            count += g_threads[i].stackSize ? 1 : 0;
        const uint32_t rva = file.Write(&count, sizeof count);
        for (int i = 0; i < g_threadCount; ++i) {
            const ThreadSlot& slot = g_threads[i];
            if (!slot.stackSize)
                continue;
            MemoryDescriptor range{slot.stackStart, {slot.stackSize, slot.stackRva}};
            file.Write(&range, sizeof range);
        }
        if (g_hasExtraMemory) {
            MemoryDescriptor range{g_extraMemory.start, {g_extraMemory.size, g_extraMemory.rva}};
            file.Write(&range, sizeof range);
        }
        directory[s++] = {kMemoryListStream, {file.Position() - rva, rva}};
    }
    {
        ExceptionStream exception{};
        exception.threadId = static_cast<uint32_t>(self);
        exception.exceptionRecord.exceptionCode = static_cast<uint32_t>(crash.signo);
        exception.exceptionRecord.exceptionFlags = static_cast<uint32_t>(crash.code);
        exception.exceptionRecord.exceptionAddress = crash.address;
        exception.threadContext = {sizeof(ContextAmd64), crashing ? crashing->contextRva : 0};
        file.Align(8);
        const uint32_t rva = file.Write(&exception, sizeof exception);
        directory[s++] = {kExceptionStream, {sizeof exception, rva}};
    }
    {
        CollectModules();
        for (int i = 0; i < g_moduleCount; ++i) {
            ModuleEntry& module = g_modules[i];
            module.nameRva = WriteString(file, module.path, module.pathLength);
            file.Align(4);
            const uint32_t signature = kCvSignatureElf;
            module.cvRva = file.Write(&signature, sizeof signature);
            file.Write(module.buildId, module.buildIdLength);
            module.cvSize = sizeof signature + module.buildIdLength;
        }
        file.Align(8);
        const uint32_t count = static_cast<uint32_t>(g_moduleCount);
        const uint32_t rva = file.Write(&count, sizeof count);
        for (int i = 0; i < g_moduleCount; ++i) {
            const ModuleEntry& entry = g_modules[i];
            Module module{};
            module.baseOfImage = entry.base;
            const uint64_t size = entry.end - entry.base;
            module.sizeOfImage = static_cast<uint32_t>(size > 0xffffffffULL ? 0xffffffffULL : size);
            module.moduleNameRva = entry.nameRva;
            module.cvRecord = {entry.cvSize, entry.cvRva};
            file.Write(&module, sizeof module);
        }
        directory[s++] = {kModuleListStream, {file.Position() - rva, rva}};
    }
    {
        SystemInfo info = g_systemInfo;
        info.csdVersionRva = WriteString(file, g_osDescription, g_osDescriptionLength);
        file.Align(8);
        const uint32_t rva = file.Write(&info, sizeof info);
        directory[s++] = {kSystemInfoStream, {sizeof info, rva}};
    }
    {
        MiscInfo misc{sizeof(MiscInfo), kMiscInfoProcessId, static_cast<uint32_t>(::getpid()), 0, 0, 0};
        file.Align(8);
        const uint32_t rva = file.Write(&misc, sizeof misc);
        directory[s++] = {kMiscInfoStream, {sizeof misc, rva}};
    }
    file.Align(8);
    const uint32_t mapsRva = file.Write(g_maps, g_mapsLength);
    directory[s++] = {kLinuxMaps, {static_cast<uint32_t>(g_mapsLength), mapsRva}};
    directory[s++] = WriteRawFile(file, kLinuxProcStatus, "/proc/self/status");
    directory[s++] = WriteRawFile(file, kLinuxCmdLine, "/proc/self/cmdline");
    directory[s++] = WriteRawFile(file, kLinuxAuxv, "/proc/self/auxv");

    file.Flush();
    file.WriteAt(sizeof(Header), directory, sizeof directory);
    return !file.Failed();
}

}  // namespace minidump
