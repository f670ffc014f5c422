// Documents in the stand-in conversion library's format (see qel_document.h).
#ifndef QELALTF_TEST_DOCUMENTS_H
#define QELALTF_TEST_DOCUMENTS_H

#include <string>

#include "qel_document.h"

namespace documents {

// A document whose text is `payload`; `options` such as ";status=-5" or ";text=none" choose the
// library's answers.
inline std::string Make(const std::string& payload, const std::string& options = "") {
    return QEL_MAGIC + options + "\n" + payload;
}

// A document of exactly `size` bytes in all, with a payload of printable bytes.
inline std::string OfSize(size_t size) {
    std::string document = Make("");
    while (document.size() < size) document.push_back(static_cast<char>('a' + document.size() % 26));
    document.resize(size);
    return document;
}

}  // namespace documents

#endif
