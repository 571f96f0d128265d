#pragma once
// The records of the minidump file format (MDMP) as the format's readers expect them on
// x86-64 Linux: little-endian, packed, sizes fixed by the format.

#include <cstdint>

namespace minidump {

constexpr uint32_t kSignature = 0x504d444d;  // "MDMP"
constexpr uint32_t kVersion = 0xa793;

enum StreamType : uint32_t {
    kUnusedStream = 0,
    kThreadListStream = 3,
    kModuleListStream = 4,
    kMemoryListStream = 5,
    kExceptionStream = 6,
    kSystemInfoStream = 7,
    kMiscInfoStream = 15,
    // The Linux streams that the format's reference tools define.
    kLinuxProcStatus = 0x47670004,
    kLinuxCmdLine = 0x47670006,
    kLinuxAuxv = 0x47670008,
    kLinuxMaps = 0x47670009,
};

constexpr uint16_t kCpuArchitectureAmd64 = 9;
constexpr uint32_t kPlatformLinux = 0x8201;
constexpr uint32_t kCvSignatureElf = 0x4270454c;  // "BpEL": a CodeView record carrying an ELF build id

constexpr uint32_t kContextAmd64 = 0x00100000;
constexpr uint32_t kContextControl = kContextAmd64 | 0x1;
constexpr uint32_t kContextInteger = kContextAmd64 | 0x2;
constexpr uint32_t kContextSegments = kContextAmd64 | 0x4;
constexpr uint32_t kContextFloatingPoint = kContextAmd64 | 0x8;

constexpr uint32_t kMiscInfoProcessId = 0x1;

#pragma pack(push, 1)

struct LocationDescriptor {
    uint32_t dataSize;
    uint32_t rva;
};

struct MemoryDescriptor {
    uint64_t startOfMemoryRange;
    LocationDescriptor memory;
};

struct Header {
    uint32_t signature;
    uint32_t version;
    uint32_t numberOfStreams;
    uint32_t streamDirectoryRva;
    uint32_t checkSum;
    uint32_t timeDateStamp;
    uint64_t flags;
};

struct Directory {
    uint32_t streamType;
    LocationDescriptor location;
};

struct Thread {
    uint32_t threadId;
    uint32_t suspendCount;
    uint32_t priorityClass;
    uint32_t priority;
    uint64_t teb;
    MemoryDescriptor stack;
    LocationDescriptor threadContext;
};

struct FixedFileInfo {
    uint32_t fields[13];
};

struct Module {
    uint64_t baseOfImage;
    uint32_t sizeOfImage;
    uint32_t checkSum;
    uint32_t timeDateStamp;
    uint32_t moduleNameRva;
    FixedFileInfo versionInfo;
    LocationDescriptor cvRecord;
    LocationDescriptor miscRecord;
    uint64_t reserved0;
    uint64_t reserved1;
};

struct Exception {
    uint32_t exceptionCode;
    uint32_t exceptionFlags;
    uint64_t exceptionRecord;
    uint64_t exceptionAddress;
    uint32_t numberParameters;
    uint32_t unusedAlignment;
    uint64_t exceptionInformation[15];
};

struct ExceptionStream {
    uint32_t threadId;
    uint32_t alignment;
    Exception exceptionRecord;
    LocationDescriptor threadContext;
};

struct SystemInfo {
    uint16_t processorArchitecture;
    uint16_t processorLevel;
    uint16_t processorRevision;
    uint8_t numberOfProcessors;
    uint8_t productType;
    uint32_t majorVersion;
    uint32_t minorVersion;
    uint32_t buildNumber;
    uint32_t platformId;
    uint32_t csdVersionRva;
    uint16_t suiteMask;
    uint16_t reserved2;
    uint32_t vendorId[3];
    uint32_t versionInformation;
    uint32_t featureInformation;
    uint32_t amdExtendedCpuFeatures;
};

struct MiscInfo {
    uint32_t sizeOfInfo;
    uint32_t flags1;
    uint32_t processId;
    uint32_t processCreateTime;
    uint32_t processUserTime;
    uint32_t processKernelTime;
};

struct Uint128 {
    uint64_t low;
    uint64_t high;
};

struct ContextAmd64 {
    uint64_t p1Home, p2Home, p3Home, p4Home, p5Home, p6Home;
    uint32_t contextFlags;
    uint32_t mxCsr;
    uint16_t cs, ds, es, fs, gs, ss;
    uint32_t eflags;
    uint64_t dr0, dr1, dr2, dr3, dr6, dr7;
    uint64_t rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi;
    uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
    uint64_t rip;
    uint8_t fltSave[512];  // the FXSAVE area
    Uint128 vectorRegister[26];
    uint64_t vectorControl;
    uint64_t debugControl;
    uint64_t lastBranchToRip;
    uint64_t lastBranchFromRip;
    uint64_t lastExceptionToRip;
    uint64_t lastExceptionFromRip;
};

#pragma pack(pop)

static_assert(sizeof(Header) == 32);
static_assert(sizeof(Directory) == 12);
static_assert(sizeof(Thread) == 48);
static_assert(sizeof(Module) == 108);
static_assert(sizeof(ExceptionStream) == 168);
static_assert(sizeof(SystemInfo) == 56);
static_assert(sizeof(MiscInfo) == 24);
static_assert(sizeof(ContextAmd64) == 1232);

}  // namespace minidump
