// Whether a source holds a document the conversion library accepts, judged by the library from the
// source's first bytes.
#include "extract/entries.h"
#include "extract/qeltext.h"

namespace {
constexpr int32_t kRecognitionBytes = 100;
}

int32_t ADDIN_CALL Recognize(void* /*unused*/, HostSource* source, void* /*unused2*/) {
    if (source == nullptr || source->Read == nullptr) return 0;
    unsigned char buffer[kRecognitionBytes];
    const int32_t count = source->Read(source, buffer, kRecognitionBytes);
    // A count the buffer cannot hold is a broken source; never hand it on as a length.
    if (count < 0 || count > kRecognitionBytes) return 0;
    return QelRecognizeDocument(buffer, count) != 0 ? 1 : 0;
}
