#include "tools/quietway_ctl/ctl_sentences.h"

namespace quietway::ctl {
namespace {

struct Sentence {
    int code;
    const char* text;
};

constexpr Sentence kSentences[] = {
#include "tools/quietway_ctl/ctl_sentences_table.inc"
};

}  // namespace

std::string api_error_sentence(int code) {
    for (const Sentence& sentence : kSentences) {
        if (sentence.code == code) return sentence.text;
    }
    const std::string number = std::to_string(code);
    return code < 0 ? "The service reported protocol error " + number + "."
                    : "The service reported error " + number + ".";
}

}  // namespace quietway::ctl
