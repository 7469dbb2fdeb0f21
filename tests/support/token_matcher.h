#pragma once

#include <gmock/gmock.h>

#include <algorithm>
#include <cstddef>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace quenlo::testing {

// A text of tokens (what the loader sent, what an option line changed, what a window showed in
// turn) compared token by token, so that a failure says where the two part: "sent 4 was N,
// expected A" rather than two long strings side by side.
class TokensMatcher {
  public:
    using is_gtest_matcher = void;

    TokensMatcher(std::string expected, std::string noun, char separator)
        : expected_(std::move(expected)), noun_(std::move(noun)), separator_(separator) {}

    bool MatchAndExplain(const std::string& actual, std::ostream* why) const {
        const std::vector<std::string> have = Split(actual), want = Split(expected_);
        for (std::size_t i = 0; i < std::max(have.size(), want.size()); ++i) {
            if (i < have.size() && i < want.size() && have[i] == want[i]) {
                continue;
            }
            if (why != nullptr) {
                *why << noun_ << ' ' << i + 1 << " was "
                     << (i < have.size() ? '"' + have[i] + '"' : "missing") << ", expected "
                     << (i < want.size() ? '"' + want[i] + '"' : "none");
            }
            return false;
        }
        return true;
    }
    void DescribeTo(std::ostream* os) const { *os << "reads \"" << expected_ << '"'; }
    void DescribeNegationTo(std::ostream* os) const {
        *os << "does not read \"" << expected_ << '"';
    }

  private:
    std::vector<std::string> Split(const std::string& text) const {
        std::vector<std::string> tokens;
        if (text.empty()) {
            return tokens;
        }
        for (std::size_t start = 0;;) {
            const std::size_t end = text.find(separator_, start);
            tokens.push_back(text.substr(start, end - start));
            if (end == std::string::npos) {
                return tokens;
            }
            start = end + 1;
        }
    }

    std::string expected_;
    std::string noun_;
    char separator_;
};

// Tokens split by `separator` (spaces unless told), each called `noun` and its number when it
// differs.
inline TokensMatcher Tokens(std::string expected, std::string noun, char separator = ' ') {
    return TokensMatcher(std::move(expected), std::move(noun), separator);
}

}  // namespace quenlo::testing
