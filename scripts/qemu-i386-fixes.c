/* Preloaded into Wine's 32-bit half where qemu-i386 runs it (a kernel without 32-bit x86
 * support). Mends two faults of qemu 7.2's user-mode emulation that Wine cannot live with:
 * - MAP_FIXED_NOREPLACE is taken as a mere hint, so a mapping lands elsewhere instead of
 *   failing, and Wine keeps such strays reserved over the address of its shared user data;
 * - a page fault reaches the signal handler with trap number -1, which Wine takes for an
 *   illegal instruction instead of an access it can resolve.
 * Built for 64-bit too, empty, so that the same LD_PRELOAD serves Wine's 64-bit processes. */
#if defined(__i386__)
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

enum { kPageShift = 12, kPageFaultTrap = 14 };

static void (*gWineSegvHandler)(int, siginfo_t *, void *);

static void *MapPages(void *address, size_t length, int protection, int flags, int fd,
                      off64_t offset) {
    if (offset & ((1 << kPageShift) - 1)) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    return (void *)syscall(SYS_mmap2, address, length, protection, flags, fd,
                           (unsigned long)(offset >> kPageShift));
}

void *mmap64(void *address, size_t length, int protection, int flags, int fd, off64_t offset) {
    if (!(flags & MAP_FIXED_NOREPLACE)) {
        return MapPages(address, length, protection, flags, fd, offset);
    }
    void *mapped = MapPages(address, length, protection, flags & ~MAP_FIXED_NOREPLACE, fd, offset);
    if (mapped != MAP_FAILED && mapped != address) {
        syscall(SYS_munmap, mapped, length);
        errno = EEXIST;
        return MAP_FAILED;
    }
    return mapped;
}

void *mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset) {
    return mmap64(address, length, protection, flags, fd, offset);
}

static void SegvTrampoline(int signal, siginfo_t *info, void *context) {
    ucontext_t *state = context;
    if (state->uc_mcontext.gregs[REG_TRAPNO] == -1) {
        state->uc_mcontext.gregs[REG_TRAPNO] = kPageFaultTrap;
    }
    gWineSegvHandler(signal, info, context);
}

int sigaction(int signal, const struct sigaction *action, struct sigaction *previous) {
    static int (*next)(int, const struct sigaction *, struct sigaction *);
    if (!next) {
        next = (int (*)(int, const struct sigaction *, struct sigaction *))dlsym(RTLD_NEXT,
                                                                                "sigaction");
    }
    if (signal != SIGSEGV || !action || !(action->sa_flags & SA_SIGINFO)) {
        return next(signal, action, previous);
    }
    struct sigaction wrapped = *action;
    gWineSegvHandler = action->sa_sigaction;
    wrapped.sa_sigaction = SegvTrampoline;
    return next(signal, &wrapped, previous);
}
#endif
