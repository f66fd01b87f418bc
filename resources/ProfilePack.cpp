// Turns the readable profile set into the shipped file: every byte
// complemented.
//   quorvel_profilepack <input text> <output file>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: quorvel_profilepack <input> <output>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "profilepack: cannot read %s\n", argv[1]);
    return 1;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (char& c : bytes) c = static_cast<char>(~static_cast<unsigned char>(c));
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "profilepack: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
