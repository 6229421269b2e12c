// fuzz-libs: kov_cslib kov_nls
// Decompresses arbitrary bytes on a fresh handle, in input and output pieces
// chosen by the first two bytes.  Any input must end in result 1 or an error:
// no crash, no out-of-bounds access, no endless sequence of empty steps.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cslib/cslib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t inPiece = 1 + (data[0] % 64) * (data[0] >= 192 ? 64 : 1);
  const size_t outPiece = 1 + (data[1] % 128) * (data[1] >= 128 ? 128 : 1);
  const uint8_t flags = data[2];
  std::vector<uint8_t> stream(data + 3, data + size);
  if ((flags & 1) && stream.size() >= 8) {
    // Help the search past the magic check.
    stream[5] = 0x1F;
    stream[6] = 0x9D;
  }
  CsSetTraceLevel((flags & 2) ? 1 : 0);

  int handle = 0;
  if (CsGetHandle(&handle) != 0) std::abort();
  std::vector<uint8_t> out(outPiece);
  size_t pos = 0;
  size_t produced = 0;
  int option = CS_INIT_DECOMPRESS;
  int idle = 0;
  for (int calls = 0; calls < 200000; ++calls) {
    size_t piece = option ? std::max<size_t>(inPiece, 8) : inPiece;
    const int32_t inLen = static_cast<int32_t>(std::min(piece, stream.size() - pos));
    int32_t r = -1;
    int32_t w = -1;
    const int rc = CsRDecompress(handle, stream.data() + pos, inLen, out.data(),
                                 static_cast<int32_t>(out.size()), option, &r, &w);
    option = 0;
    if (rc < 0 || rc == CS_END_OF_STREAM) break;
    if (r < 0 || w < 0 || r > inLen || w > static_cast<int32_t>(out.size())) std::abort();
    pos += static_cast<size_t>(r);
    produced += static_cast<size_t>(w);
    idle = (r == 0 && w == 0) ? idle + 1 : 0;
    if (idle > 3) std::abort();  // the library must refuse, not idle
    if (produced > (4u << 20)) break;
  }
  CsReleaseHandle(handle);
  CsSetTraceLevel(0);
  return 0;
}
