/* pipl_fuzz.cpp - a libFuzzer target: the property-list reader on arbitrary
 * bytes, as a list, as a plug-in file and as an enable expression. */
#include "memory_file.h"
#include "pipl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    std::string error;
    PiplDocument document;
    PiplInfo info;
    if (pipl_parse(bytes, &info, &error)) pipl_enabled(info, document);

    std::vector<uint8_t> from_file;
    if (pipl_read_file(memory_file(data, size), &from_file, &error) &&
        pipl_parse(from_file, &info, &error))
        pipl_enabled(info, document);

    bool ok;
    pipl_evaluate(std::string(bytes.begin(), bytes.end()), document, &ok);
    return 0;
}
