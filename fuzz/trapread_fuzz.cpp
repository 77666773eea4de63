// Fuzz target: the trap-file reader behind `ossetool trap`, on files of both layouts. The input
// is the whole file, read from memory; the text is kept only as long as one input.
#include <string>

#include "trapread.h"

namespace {

class Discard final : public trapread::Output {
public:
    void text(const char*, size_t n) override { length += n; }
    // Every module passes the system's checks here, so the frames ask for symbol names.
    bool openableImage(const std::string&, const char** why) override
    {
        *why = nullptr;
        return true;
    }
    size_t length = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const Uint8* data, size_t size)
{
    trapread::MemorySource file(data, size);
    Discard out;
    trapread::read(file, out, "input");
    // The header taken at the start, wherever the first eye-catcher is.
    trapread::read(file, out, "input", 0);
    return 0;
}
