#include "server/game/LzmaChunk.h"

#include <lzma.h>

namespace velt {

size_t CompressDownloadChunk(const uint8_t* data, size_t length, uint8_t* out, size_t capacity, int& error) {
    error = 0;
    lzma_options_lzma options{};
    // The settings of compression level 1 with the dictionary, literal and position bits the
    // clients assume.
    if (lzma_lzma_preset(&options, 1) != 0) {
        error = LZMA_OPTIONS_ERROR;
        return 0;
    }
    options.dict_size = 65536;
    options.lc = 3;
    options.lp = 0;
    options.pb = 2;
    options.nice_len = 32;
    options.mode = LZMA_MODE_FAST;
    // No end marker: clients stop at the length the message tells them.
    options.ext_flags = 0;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    size_t written = 0;
    static const uint8_t kNothing = 0;
    const lzma_ret ret = lzma_raw_buffer_encode(filters, nullptr, data != nullptr ? data : &kNothing, length,
                                                out, &written, capacity);
    if (ret != LZMA_OK) {
        error = int(ret);
        return 0;
    }
    return written;
}

}  // namespace velt
