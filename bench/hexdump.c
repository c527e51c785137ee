/* The floor for the Type 42 benchmark: the least work that turns a file into
 * hexadecimal text. The file is mapped, each byte becomes two upper-case
 * digits by a table lookup, lines hold 64 digits, and the text is written in
 * 64 KiB blocks, which is the same shape of output as a Type 42 font's sfnts
 * strings without anything around them.
 *
 *   hexdump FILE OUT
 */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static char pairs[512];

static int writeAll(int fd, const char* p, size_t n)
{
    while (n) {
        ssize_t w = write(fd, p, n);
        if (w <= 0)
            return -1;
        p += w;
        n -= (size_t)w;
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: hexdump FILE OUT\n");
        return 2;
    }
    int in = open(argv[1], O_RDONLY);
    struct stat st;
    if (in < 0 || fstat(in, &st) != 0) {
        perror(argv[1]);
        return 1;
    }
    size_t size = (size_t)st.st_size;
    const unsigned char* data = size ? mmap(NULL, size, PROT_READ, MAP_PRIVATE, in, 0) : NULL;
    close(in);
    if (size && data == MAP_FAILED) {
        perror("mmap");
        return 1;
    }
    int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0) {
        perror(argv[2]);
        return 1;
    }
    const char* digits = "0123456789ABCDEF";
    for (int i = 0; i < 256; ++i) {
        pairs[2 * i] = digits[i >> 4];
        pairs[2 * i + 1] = digits[i & 15];
    }

    static char block[1 << 16];
    size_t used = 0;
    for (size_t i = 0; i < size; i += 32) {
        size_t n = size - i < 32 ? size - i : 32;
        if (used + 65 > sizeof block) {
            if (writeAll(out, block, used))
                return 1;
            used = 0;
        }
        for (size_t k = 0; k < n; ++k)
            memcpy(block + used + 2 * k, pairs + 2 * data[i + k], 2);
        used += 2 * n;
        block[used++] = '\n';
    }
    if (writeAll(out, block, used) || close(out) != 0)
        return 1;
    return 0;
}
