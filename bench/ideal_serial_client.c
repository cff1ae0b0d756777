/* ideal_serial_client DEVICE FRAME...: the least a client can do for one exchange on a serial
 * line, as a process of its own: opens DEVICE raw at 19200 baud, and for each FRAME (26 hex
 * digits, spaces allowed) writes its 13 bytes and reads until 13 bytes of answer have come.
 * No checks of the answers, no settling, no library beyond the C library: the floor that
 * corvanectl's own run is measured against. Exits 0 when every frame was answered. */
#include <ctype.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

enum { kFrameBytes = 13, kAnswerWaitMs = 5000 };

static int HexDigit(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = tolower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

/* The 13 bytes that text spells; 0 when it spells anything else. */
static int ParseFrame(const char* text, unsigned char* frame)
{
    int n = 0, high = -1;
    for (; *text; ++text) {
        if (*text == ' ')
            continue;
        const int d = HexDigit((unsigned char)*text);
        if (d < 0 || (high < 0 && n == kFrameBytes))
            return 0;
        if (high < 0) {
            high = d;
        } else {
            frame[n++] = (unsigned char)(high << 4 | d);
            high = -1;
        }
    }
    return n == kFrameBytes && high < 0;
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: ideal_serial_client DEVICE FRAME...\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        perror(argv[1]);
        return 2;
    }
    struct termios tio;
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetspeed(&tio, B19200);
        tcsetattr(fd, TCSANOW, &tio);
    }
    for (int i = 2; i < argc; ++i) {
        unsigned char frame[kFrameBytes], answer[64];
        if (!ParseFrame(argv[i], frame)) {
            fprintf(stderr, "not a frame of %d bytes: %s\n", kFrameBytes, argv[i]);
            return 2;
        }
        if (write(fd, frame, kFrameBytes) != kFrameBytes) {
            perror("write");
            return 1;
        }
        for (int got = 0; got < kFrameBytes;) {
            struct pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, kAnswerWaitMs) <= 0) {
                fprintf(stderr, "no answer to frame %d\n", i - 1);
                return 1;
            }
            const ssize_t r = read(fd, answer, sizeof answer);
            if (r <= 0) {
                perror("read");
                return 1;
            }
            got += (int)r;
        }
    }
    close(fd);
    return 0;
}
