// keyvale_floor: the least work a key of a Targa file can do, to time
// keyvale-cli against. It reads the whole input through one fixed 1 MiB
// buffer and writes 18 + 4 x width x height bytes through another, each
// output pixel made from three input bytes with a trivial operation (alpha
// set to 255). It does not decode run-length data: for a type-10 input it
// takes the packet bytes as they come (reusing the last input block once
// the input runs out), so its time stays the pure cost of reading and writing.
//
//   keyvale_floor INPUT OUTPUT     read and write
//   keyvale_floor INPUT --read     read only (the floor for Open)

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t BufferBytes = 1 << 20;

// Hands out input bytes three at a time; once the file has ended, it
// serves its last block again.
struct Reader {
  std::FILE* file;
  std::vector<unsigned char> buffer = std::vector<unsigned char>(BufferBytes);
  std::size_t position = 0;
  std::size_t end = 0;

  // Whole pixels buffered, reading the next block when none are.
  std::size_t pixelsAvailable() {
    if (end - position < 3) {
      const std::size_t got = std::fread(buffer.data(), 1, (BufferBytes / 3) * 3, file);
      if (got >= 3) end = got;
      position = 0;
    }
    return (end - position) / 3;
  }
};

int readOnly(std::FILE* input) {
  std::vector<unsigned char> buffer(BufferBytes);
  unsigned sum = 0;
  std::size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, BufferBytes, input)) > 0) {
    for (std::size_t i = 0; i < got; i += 4096) sum += buffer[i];  // touch every page
  }
  std::printf("%u\n", sum & 1u);
  return 0;
}

int readAndWrite(std::FILE* input, std::FILE* output) {
  unsigned char header[18] = {};
  if (std::fread(header, 1, sizeof header, input) != sizeof header) return 1;
  unsigned long long pixels =
      static_cast<unsigned long long>(header[12] | header[13] << 8) * static_cast<unsigned>(header[14] | header[15] << 8);
  header[2] = 2;
  header[16] = 32;
  header[17] = 0;
  std::fwrite(header, 1, sizeof header, output);

  Reader reader{input};
  std::vector<unsigned char> out(BufferBytes);
  std::size_t filled = 0;
  while (pixels > 0) {
    std::size_t n = reader.pixelsAvailable();
    if (n > (BufferBytes - filled) / 4) n = (BufferBytes - filled) / 4;
    if (n > pixels) n = static_cast<std::size_t>(pixels);
    const unsigned char* in = reader.buffer.data() + reader.position;
    unsigned char* to = out.data() + filled;
    for (std::size_t i = 0; i < n; ++i) {
      to[4 * i] = in[3 * i];
      to[4 * i + 1] = in[3 * i + 1];
      to[4 * i + 2] = in[3 * i + 2];
      to[4 * i + 3] = 255;  // the trivial per-pixel operation
    }
    reader.position += 3 * n;
    filled += 4 * n;
    pixels -= n;
    if (filled == BufferBytes) {
      std::fwrite(out.data(), 1, filled, output);
      filled = 0;
    }
  }
  std::fwrite(out.data(), 1, filled, output);
  return std::fflush(output) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: keyvale_floor INPUT OUTPUT | keyvale_floor INPUT --read\n");
    return 2;
  }
  std::FILE* input = std::fopen(argv[1], "rb");
  if (input == nullptr) return 1;
  std::setvbuf(input, nullptr, _IONBF, 0);  // our own buffer is the only one
  if (std::strcmp(argv[2], "--read") == 0) return readOnly(input);
  std::FILE* output = std::fopen(argv[2], "wb");
  if (output == nullptr) return 1;
  std::setvbuf(output, nullptr, _IONBF, 0);
  const int status = readAndWrite(input, output);
  return std::fclose(output) == 0 ? status : 1;
}
