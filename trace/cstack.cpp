// The C-stack dump.
#include "trace/cstack.h"

#include <dlfcn.h>
#include <elf.h>
#include <execinfo.h>
#include <link.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>

#include "nls/kovstr.h"

namespace {

constexpr int kMaxFrames = 1024;
constexpr size_t kMaxName = 1023;

// Load address of the main program: symbol values of a position-independent
// executable are relative to it (0 for a fixed-address one).
uintptr_t ProgramBias()
{
    uintptr_t bias = 0;
    dl_iterate_phdr(
        [](struct dl_phdr_info* info, size_t, void* out) {
            *static_cast<uintptr_t*>(out) = info->dlpi_addr;
            return 1;  // the first object is the program itself
        },
        &bias);
    return bias;
}

// Name of the function symbol of the executable that holds pc (the one with
// the highest start); false when none does.
bool ExeSymbol(uintptr_t pc, char* name, uintptr_t* base)
{
    char path[64];
    snprintfTruncR(path, sizeof path, "/proc/%d/exe", static_cast<int>(getpid()));
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    Elf64_Ehdr eh;
    bool found = false;
    uintptr_t best = 0;
    name[0] = '\0';
    const uintptr_t bias = ProgramBias();
    const uintptr_t rel = pc - bias;
    if (CStackReadAt(f, &eh, 0, sizeof eh) && std::memcmp(eh.e_ident, ELFMAG, SELFMAG) == 0 &&
        eh.e_ident[EI_CLASS] == ELFCLASS64 && eh.e_shentsize >= sizeof(Elf64_Shdr)) {
        for (unsigned s = 0; s < eh.e_shnum; ++s) {
            Elf64_Shdr sh;
            if (!CStackReadAt(f, &sh, static_cast<long>(eh.e_shoff + s * eh.e_shentsize), sizeof sh))
                break;
            if (sh.sh_type != SHT_SYMTAB || sh.sh_entsize == 0 || sh.sh_size / sh.sh_entsize == 0 ||
                sh.sh_link >= eh.e_shnum)
                continue;
            Elf64_Shdr str;
            if (!CStackReadAt(f, &str, static_cast<long>(eh.e_shoff + sh.sh_link * eh.e_shentsize), sizeof str) ||
                str.sh_type != SHT_STRTAB)
                break;
            const uint64_t count = sh.sh_size / sh.sh_entsize;
            bool ok = true;
            for (uint64_t i = 0; i < count && ok; ++i) {
                Elf64_Sym sym;
                if (!CStackReadAt(f, &sym, static_cast<long>(sh.sh_offset + i * sh.sh_entsize), sizeof sym)) {
                    ok = false;
                    break;
                }
                if (ELF64_ST_TYPE(sym.st_info) != STT_FUNC || rel < sym.st_value || rel > sym.st_value + sym.st_size ||
                    (found && sym.st_value <= best))
                    continue;
                size_t n = 0;
                if (std::fseek(f, static_cast<long>(str.sh_offset + sym.st_name), SEEK_SET) == 0) {
                    int c;
                    while (n < kMaxName && (c = std::fgetc(f)) != EOF && c != 0)
                        name[n++] = static_cast<char>(c);
                }
                name[n] = '\0';
                best = sym.st_value;
                found = true;
            }
            if (!ok)
                break;
        }
    }
    std::fclose(f);
    if (!found || !name[0])
        return false;
    *base = best + bias;
    return true;
}

void WriteFrame(int fd, uintptr_t pc)
{
    char name[kMaxName + 1];
    const char* file = nullptr;
    const char* sym = nullptr;
    uintptr_t base = 0;
    Dl_info info;
    if (ExeSymbol(pc, name, &base)) {
        sym = name;
    } else if (dladdr(reinterpret_cast<void*>(pc), &info) && info.dli_fname && info.dli_fname[0]) {
        file = info.dli_fname;
        if (info.dli_sname) {
            sym = info.dli_sname;
            base = reinterpret_cast<uintptr_t>(info.dli_saddr);
        }
    }
    struct iovec v[6];
    int n = 0;
    auto add = [&](const char* s, size_t len) {
        v[n].iov_base = const_cast<char*>(s);
        v[n].iov_len = len;
        ++n;
    };
    char offset[40], address[40];
    if (file)
        add(file, std::strlen(file));
    if (sym) {
        add("(", 1);
        add(sym, std::strlen(sym));
        const bool after = pc >= base;
        add(after ? "+0x" : "-0x", 3);
        const int32_t k = snprintfTruncR(offset, sizeof offset, "%lx)",
                                         static_cast<unsigned long>(after ? pc - base : base - pc));
        add(offset, static_cast<size_t>(k));
    }
    const int32_t k = snprintfTruncR(address, sizeof address, "[0x%lx]\n", static_cast<unsigned long>(pc));
    add(address, static_cast<size_t>(k));
    (void)!writev(fd, v, n);
}

}  // namespace

int CStackReadAt(FILE* stream, void* buffer, long offset, size_t size)
{
    if (std::fseek(stream, offset, SEEK_SET) != 0)
        return 0;
    return std::fread(buffer, size, 1, stream) == 1 ? 1 : 0;
}

int CStackTrace(DpTrcHdl hdl)
{
    DpTrcLockAcquire();
    DpTrcNoStamp(hdl, "------------------ C-STACK ----------------------\n");
    DpTrcLockRelease();
    FILE* f = CTrcGetFile(hdl);
    std::fflush(f);
    const int fd = fileno(f);
    void* frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    for (int i = 0; i + 1 < count; ++i)
        WriteFrame(fd, reinterpret_cast<uintptr_t>(frames[i]));
    DpTrcLockAcquire();
    DpTrcNoStamp(hdl, "-------------------------------------------------\n");
    DpTrcLockRelease();
    return 0;
}
