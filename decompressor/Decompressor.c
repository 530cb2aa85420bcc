/*
 * strata-bunzip2 and strata-unzstd: the decompressors a package carries.
 *
 * One source, built twice: with STRATA_BUNZIP2 it decodes bzip2 streams
 * through libbz2, with STRATA_UNZSTD zstd frames through libzstd. Each is a
 * static musl program, so a package needs nothing of the target's libraries.
 *
 *   PROGRAM -dc    (also "-d -c", "-cd", "-d"; "-q" is accepted and changes
 *                   nothing)
 *   PROGRAM -h | --help | -V | --version
 *
 * Reads standard input and writes the decoded data to standard output;
 * streams (frames) laid end to end are decoded in sequence. Exit status: 0
 * when the whole input was one or more complete streams and all of their
 * data was written; 1 for a wrong command line; 2 for input that is empty,
 * not of the format, corrupt, cut short or followed by anything that is not
 * another stream, and for a failed read or write. Every failure prints one
 * line on standard error that starts with the program's name and ": ".
 */

#define _GNU_SOURCE /* F_SETPIPE_SZ */
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#if defined(STRATA_BUNZIP2)
#include <bzlib.h>
#define PROGRAM_NAME "strata-bunzip2"
#define FORMAT_NAME "bzip2"
#define LIBRARY_NAME "libbz2"
#elif defined(STRATA_UNZSTD)
#include <zstd.h>
#include <zstd_errors.h>
#define PROGRAM_NAME "strata-unzstd"
#define FORMAT_NAME "zstd"
#define LIBRARY_NAME "libzstd"
#else
#error "define STRATA_BUNZIP2 or STRATA_UNZSTD"
#endif

#ifndef STRATA_VERSION
#define STRATA_VERSION "unknown"
#endif

enum { kExitOk = 0, kExitUsage = 1, kExitFailure = 2 };

/* Debian builds its static libraries with _FORTIFY_SOURCE, which musl does
 * not provide; their diagnostics need only the plain call. */
int __fprintf_chk(FILE* stream, int flag, const char* format, ...) {
  (void)flag;
  va_list args;
  va_start(args, format);
  int result = vfprintf(stream, format, args);
  va_end(args);
  return result;
}

/* One line on standard error, "PROGRAM: " first, cut to fit its buffer. */
static void Complain(const char* format, ...) {
  char line[512];
  /* One byte stays free for the line end. */
  int used = snprintf(line, sizeof line - 1, "%s: ", PROGRAM_NAME);
  va_list args;
  va_start(args, format);
  vsnprintf(line + used, sizeof line - 1 - (size_t)used, format, args);
  va_end(args);
  size_t length = strlen(line);
  /* An operand may hold anything; the message stays one line. */
  for (size_t i = 0; i < length; ++i) {
    if ((unsigned char)line[i] < 0x20)
      line[i] = '?';
  }
  line[length++] = '\n';
  /* Nothing can be done when standard error fails too. */
  if (write(STDERR_FILENO, line, length) < 0)
    return;
}

/* Writes all of data to standard output, through short writes and signals.
 * Returns 0, or -1 after a message. */
static int WriteOutput(const void* data, size_t length) {
  const char* next = data;
  while (length > 0) {
    ssize_t written = write(STDOUT_FILENO, next, length);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      Complain("cannot write standard output: %s", strerror(errno));
      return -1;
    }
    next += written;
    length -= (size_t)written;
  }
  return 0;
}

/* Reads what standard input has, up to capacity bytes: the count, 0 at its
 * end, or -1 after a message. */
static ssize_t ReadInput(void* buffer, size_t capacity) {
  for (;;) {
    ssize_t got = read(STDIN_FILENO, buffer, capacity);
    if (got >= 0)
      return got;
    if (errno != EINTR) {
      Complain("cannot read standard input: %s", strerror(errno));
      return -1;
    }
  }
}

/* Large reads and writes: the program sits in a pipe between the package
 * and tar, and each system call it saves is time the unpacking saves. A
 * write is a quarter of the pipe (see GrowPipes), not all of it: then tar
 * reads one write while the next is decoded, and reads it while it is still
 * in the cache; writes of the whole pipe made the unpacking of a tzst
 * package 9% slower. */
enum { kInputSize = 256 * 1024, kOutputSize = 256 * 1024 };

#if defined(STRATA_BUNZIP2)

static const char* LibraryVersion(void) {
  return BZ2_bzlibVersion();
}

/* libbz2's move-to-front step shifts a handful of bytes up by one, and the
 * compiler turns that loop into memmove calls: a sixth of the decoding time
 * went into musl's memmove, which moves such overlapping bytes one at a
 * time, and the program decoded a fifth slower than Debian's bzip2. This
 * memmove, linked in place of the C library's, moves them in words. A wrong
 * move could not go unnoticed: each block's CRC covers its output. The loops
 * must stay loops, not calls to memmove or memcpy. */
static inline uint64_t LoadWord(const unsigned char* p) {
  uint64_t word;
  memcpy(&word, p, sizeof word);
  return word;
}

static inline void StoreWord(unsigned char* p, uint64_t word) {
  memcpy(p, &word, sizeof word);
}

__attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memmove(void* destination,
                                                                            const void* source,
                                                                            size_t n) {
  unsigned char* d = destination;
  const unsigned char* s = source;
  if (d == s || n == 0)
    return destination;
  if (n <= 16) {
    /* Everything is read before anything is written. */
    if (n >= 8) {
      uint64_t head = LoadWord(s);
      uint64_t tail = LoadWord(s + n - 8);
      StoreWord(d, head);
      StoreWord(d + n - 8, tail);
    } else {
      unsigned char copy[8];
      for (size_t i = 0; i < n; ++i)
        copy[i] = s[i];
      for (size_t i = 0; i < n; ++i)
        d[i] = copy[i];
    }
    return destination;
  }
  size_t i;
  if (d < s) {
    /* Going up, a word stored below s + i + 8 covers only bytes read already. */
    for (i = 0; i + 8 <= n; i += 8)
      StoreWord(d + i, LoadWord(s + i));
    for (; i < n; ++i)
      d[i] = s[i];
  } else {
    /* Going down, the same from the top. */
    for (i = n; i >= 8; i -= 8)
      StoreWord(d + i - 8, LoadWord(s + i - 8));
    while (i > 0) {
      --i;
      d[i] = s[i];
    }
  }
  return destination;
}

static int Decompress(void) {
  char* input = malloc(kInputSize);
  char* output = malloc(kOutputSize);
  if (input == NULL || output == NULL) {
    Complain("out of memory");
    return kExitFailure;
  }
  bz_stream stream;
  memset(&stream, 0, sizeof stream);
  int inStream = 0;  /* a stream has begun and not yet ended */
  long finished = 0; /* complete streams so far */
  int endOfInput = 0;
  for (;;) {
    if (stream.avail_in == 0 && !endOfInput) {
      ssize_t got = ReadInput(input, kInputSize);
      if (got < 0)
        return kExitFailure;
      endOfInput = got == 0;
      stream.next_in = input;
      stream.avail_in = (unsigned)got;
    }
    if (!inStream) {
      if (stream.avail_in == 0)
        break;
      /* Whatever follows a stream must be the next one. */
      if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
        Complain("out of memory");
        return kExitFailure;
      }
      inStream = 1;
    }
    stream.next_out = output;
    stream.avail_out = kOutputSize;
    int status = BZ2_bzDecompress(&stream);
    size_t produced = kOutputSize - stream.avail_out;
    if (produced > 0 && WriteOutput(output, produced) != 0)
      return kExitFailure;
    if (status == BZ_STREAM_END) {
      BZ2_bzDecompressEnd(&stream);
      inStream = 0;
      ++finished;
      continue;
    }
    if (status == BZ_DATA_ERROR_MAGIC) {
      if (finished == 0)
        Complain("the input is not bzip2-compressed data");
      else
        Complain("trailing garbage after the last bzip2 stream");
      return kExitFailure;
    }
    if (status == BZ_DATA_ERROR) {
      Complain("the compressed data is corrupt (bzip2 stream %ld)", finished + 1);
      return kExitFailure;
    }
    if (status == BZ_MEM_ERROR) {
      Complain("out of memory");
      return kExitFailure;
    }
    if (status != BZ_OK) {
      Complain("libbz2 failed with error %d", status);
      return kExitFailure;
    }
    /* Without input, a call that produces nothing needs data that the input
     * no longer has. */
    if (produced == 0 && stream.avail_in == 0 && endOfInput) {
      Complain("the compressed data ends unexpectedly (bzip2 stream %ld)", finished + 1);
      return kExitFailure;
    }
  }
  if (finished == 0) {
    Complain("the input is empty: no bzip2 stream");
    return kExitFailure;
  }
  return kExitOk;
}

#else /* STRATA_UNZSTD */

/* The largest window a 64-bit zstd writes (--long=31); the library's default
 * limit of 2^27 would refuse archives made with larger windows. Memory for
 * the window is taken only as large as a frame declares. */
enum { kWindowLogMax = 31 };

static const char* LibraryVersion(void) {
  return ZSTD_versionString();
}

static int ReportZstdError(size_t code, long finished) {
  switch (ZSTD_getErrorCode(code)) {
    case ZSTD_error_prefix_unknown:
      if (finished == 0)
        Complain("the input is not zstd-compressed data");
      else
        Complain("trailing garbage after the last zstd frame");
      break;
    case ZSTD_error_memory_allocation:
      Complain("out of memory");
      break;
    default:
      Complain("the compressed data is corrupt (zstd frame %ld: %s)", finished + 1,
               ZSTD_getErrorName(code));
      break;
  }
  return kExitFailure;
}

static int Decompress(void) {
  ZSTD_DCtx* context = ZSTD_createDCtx();
  /* Room for at least one whole block: the library flushes at most what fits. */
  size_t outputSize = ZSTD_DStreamOutSize() > kOutputSize ? ZSTD_DStreamOutSize() : kOutputSize;
  void* inputData = malloc(kInputSize);
  void* outputData = malloc(outputSize);
  if (context == NULL || inputData == NULL || outputData == NULL) {
    Complain("out of memory");
    return kExitFailure;
  }
  size_t set = ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, kWindowLogMax);
  if (ZSTD_isError(set)) {
    Complain("libzstd refuses a window of 2^%d bytes: %s", kWindowLogMax, ZSTD_getErrorName(set));
    return kExitFailure;
  }
  ZSTD_inBuffer input = {inputData, 0, 0};
  size_t hint = 0;    /* 0: no frame is in progress */
  int outputFull = 0; /* the last call may have more to flush */
  int sawInput = 0;
  long finished = 0; /* complete frames so far */
  int endOfInput = 0;
  for (;;) {
    if (input.pos == input.size && !endOfInput) {
      ssize_t got = ReadInput(inputData, kInputSize);
      if (got < 0)
        return kExitFailure;
      endOfInput = got == 0;
      sawInput |= got > 0;
      input.size = (size_t)got;
      input.pos = 0;
    }
    if (input.pos == input.size && endOfInput && !outputFull) {
      if (!sawInput) {
        Complain("the input is empty: no zstd frame");
        return kExitFailure;
      }
      if (hint != 0) {
        Complain("the compressed data ends unexpectedly (zstd frame %ld)", finished + 1);
        return kExitFailure;
      }
      return kExitOk;
    }
    ZSTD_outBuffer output = {outputData, outputSize, 0};
    hint = ZSTD_decompressStream(context, &output, &input);
    if (ZSTD_isError(hint))
      return ReportZstdError(hint, finished);
    if (output.pos > 0 && WriteOutput(outputData, output.pos) != 0)
      return kExitFailure;
    /* A full buffer may leave data to flush, unless the frame is done. */
    outputFull = output.pos == output.size && hint != 0;
    if (hint == 0)
      ++finished;
  }
}

#endif

/* Help and version: 0 once written, 2 when standard output fails. */
static int PrintUsage(void) {
  char text[1024];
  snprintf(text, sizeof text,
           "Usage: %s -dc\n"
           "Decompresses %s data from standard input to standard output;\n"
           "concatenated %s data is decompressed in sequence.\n"
           "\n"
           "  -d, -c, -dc   decompress to standard output (the only operation)\n"
           "  -q            accepted for compatibility; changes nothing\n"
           "  -h, --help    show this help\n"
           "  -V, --version show the version\n"
           "\n"
           "Exit status: 0 success, 1 wrong command line, 2 input that is empty,\n"
           "corrupt, cut short or followed by garbage, or a failed read or write.\n",
           PROGRAM_NAME, FORMAT_NAME, FORMAT_NAME);
  return WriteOutput(text, strlen(text)) == 0 ? kExitOk : kExitFailure;
}

static int PrintVersion(void) {
  char line[256];
  snprintf(line, sizeof line, "%s %s (%s %s)\n", PROGRAM_NAME, STRATA_VERSION, LIBRARY_NAME,
           LibraryVersion());
  return WriteOutput(line, strlen(line)) == 0 ? kExitOk : kExitFailure;
}

/* Returns -1 to go on and decompress, otherwise the exit status. */
static int ParseCommandLine(int argc, char** argv) {
  int decompress = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
      return PrintUsage();
    }
    if (strcmp(arg, "-V") == 0 || strcmp(arg, "--version") == 0) {
      return PrintVersion();
    }
    if (arg[0] != '-' || arg[1] == '\0') {
      Complain("only standard input is read; unexpected operand '%s' (see --help)", arg);
      return kExitUsage;
    }
    for (const char* letter = arg + 1; *letter != '\0'; ++letter) {
      if (*letter == 'd')
        decompress = 1;
      else if (*letter != 'c' && *letter != 'q') {
        Complain("unknown option '%s' (see --help)", arg);
        return kExitUsage;
      }
    }
  }
  /* A command that asks to compress must not silently get the reverse. */
  if (!decompress) {
    Complain("only decompression is supported: use -dc (see --help)");
    return kExitUsage;
  }
  return -1;
}

/* Pipes of 1 MiB on both sides, where they are pipes: with the 64 KiB a pipe
 * has by default, each large write waits for the reader to take page after
 * page, and decoding stops meanwhile; with room for a whole write, decoding
 * the next block goes on while tar reads the last one. What the system
 * refuses (a file, a limit below 1 MiB) stays as it is. */
static void GrowPipes(void) {
  enum { kPipeSize = 1024 * 1024 };
  int fds[] = {STDIN_FILENO, STDOUT_FILENO};
  for (size_t i = 0; i < sizeof fds / sizeof fds[0]; ++i) {
    int size = fcntl(fds[i], F_GETPIPE_SZ);
    if (size > 0 && size < kPipeSize)
      fcntl(fds[i], F_SETPIPE_SZ, kPipeSize);
  }
}

int main(int argc, char** argv) {
  int status = ParseCommandLine(argc, argv);
  if (status >= 0)
    return status;
  GrowPipes();
  /* A reader that goes away, such as a tar that failed, then shows as a
   * write error with a message rather than a silent death. */
  signal(SIGPIPE, SIG_IGN);
  return Decompress();
}
