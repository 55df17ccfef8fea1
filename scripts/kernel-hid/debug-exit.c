/* debug-exit CODE: ends the VM through QEMU's isa-debug-exit device at I/O
 * port 0xf4, so that QEMU exits with status (CODE << 1) | 1. The kernel we
 * boot has no /dev/port, hence this one-instruction program. */
#include <stdio.h>
#include <stdlib.h>
#include <sys/io.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: debug-exit CODE\n");
        return 2;
    }
    const unsigned long code = strtoul(argv[1], NULL, 0);
    if (ioperm(0xf4, 4, 1) != 0) {
        perror("ioperm(0xf4)");
        return 1;
    }
    outb((unsigned char)code, 0xf4);
    fprintf(stderr, "debug-exit: QEMU did not end on port 0xf4\n");
    return 1;
}
