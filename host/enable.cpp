/* enable.cpp - a property list's enable expression evaluated for a
 * document, as a host decides whether a filter may run on it. */
#include "pipl.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const mode_names[] = {
    "BitmapMode",    "GrayScaleMode", "IndexedMode",      "RGBMode",     "CMYKMode",
    "HSLMode",       "HSBMode",       "MultichannelMode", "DuotoneMode", "LabMode",
    "Gray16Mode",    "RGB48Mode",     "Lab48Mode",        "CMYK64Mode",  "DeepMultichannelMode",
    "Duotone16Mode", "RGB96Mode",     "Gray32Mode",
};
const int mode_count = sizeof mode_names / sizeof mode_names[0];

bool same_word(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; i++)
        if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
    return true;
}

/* A recursive-descent evaluator of the enable language: integers, the
 * document's identifiers, mode names, true and false; in(), min(), max();
 * ! and unary -, * /, + -, comparisons, && and ||. */
struct Evaluator {
    const std::string& s;
    const PiplDocument& doc;
    size_t at = 0;
    bool ok = true;

    void space() {
        while (at < s.size() && std::isspace(uint8_t(s[at]))) at++;
    }
    bool take(const char* token) {
        space();
        size_t n = std::strlen(token);
        if (s.compare(at, n, token) != 0) return false;
        /* "<" must not take the first half of "<=", nor "!" of "!=" */
        if (n == 1 && at + 1 < s.size() && s[at + 1] == '=' && std::strchr("<>!=", token[0]))
            return false;
        at += n;
        return true;
    }
    void fail() { ok = false; }

    int64_t identifier(const std::string& name) {
        struct {
            const char* name;
            int64_t value;
        } known[] = {
            {"PSHOP_ImageMode", doc.mode},
            {"PSHOP_ImageDepth", doc.depth},
            {"PSHOP_ImageWidth", doc.columns},
            {"PSHOP_ImageHeight", doc.rows},
            {"PSHOP_NumTargetChannels", doc.channels},
            {"PSHOP_HasLayerMask", doc.layer_mask},
            {"PSHOP_HasSelectionMask", doc.selection},
            {"PSHOP_HasTransparencyMask", doc.transparency},
            {"true", 1},
            {"false", 0},
        };
        for (const auto& k : known)
            if (same_word(name, k.name)) return k.value;
        for (int m = 0; m < mode_count; m++)
            if (same_word(name, mode_names[m])) return m;
        fail();
        return 0;
    }

    int64_t primary() {
        space();
        if (take("(")) {
            int64_t v = expression();
            if (!take(")")) fail();
            return v;
        }
        if (at < s.size() && std::isdigit(uint8_t(s[at]))) {
            int64_t v = 0;
            while (at < s.size() && std::isdigit(uint8_t(s[at])) && v < (int64_t(1) << 40))
                v = v * 10 + (s[at++] - '0');
            return v;
        }
        size_t start = at;
        while (at < s.size() && (std::isalnum(uint8_t(s[at])) || s[at] == '_')) at++;
        if (start == at) {
            fail();
            return 0;
        }
        std::string name = s.substr(start, at - start);
        if (!take("(")) return identifier(name);
        std::vector<int64_t> args;
        if (!take(")")) {
            do args.push_back(expression());
            while (ok && take(","));
            if (!take(")")) fail();
        }
        if (args.empty()) {
            fail();
            return 0;
        }
        if (same_word(name, "in")) {
            for (size_t i = 1; i < args.size(); i++)
                if (args[i] == args[0]) return 1;
            return 0;
        }
        if (same_word(name, "min")) return *std::min_element(args.begin(), args.end());
        if (same_word(name, "max")) return *std::max_element(args.begin(), args.end());
        fail();
        return 0;
    }
    /* Arithmetic that leaves the 64-bit range fails the expression. */
    int64_t checked(bool overflow, int64_t v) {
        if (overflow) fail();
        return overflow ? 0 : v;
    }
    int64_t unary() {
        if (take("!")) return !unary();
        if (take("-")) {
            int64_t v = unary(), r;
            bool overflow = __builtin_sub_overflow(int64_t(0), v, &r);
            return checked(overflow, r);
        }
        return primary();
    }
    int64_t product() {
        int64_t v = unary();
        for (;;) {
            if (take("*")) {
                int64_t r;
                bool overflow = __builtin_mul_overflow(v, unary(), &r);
                v = checked(overflow, r);
            } else if (take("/")) {
                int64_t d = unary();
                if (d == 0 || (d == -1 && v == INT64_MIN))
                    fail();
                else
                    v /= d;
            } else
                return v;
        }
    }
    int64_t sum() {
        int64_t v = product();
        for (;;) {
            int64_t r;
            bool overflow;
            if (take("+"))
                overflow = __builtin_add_overflow(v, product(), &r);
            else if (take("-"))
                overflow = __builtin_sub_overflow(v, product(), &r);
            else
                return v;
            v = checked(overflow, r);
        }
    }
    int64_t comparison() {
        int64_t v = sum();
        for (;;) {
            if (take("=="))
                v = v == sum();
            else if (take("!="))
                v = v != sum();
            else if (take("<="))
                v = v <= sum();
            else if (take(">="))
                v = v >= sum();
            else if (take("<"))
                v = v < sum();
            else if (take(">"))
                v = v > sum();
            else
                return v;
        }
    }
    int64_t conjunction() {
        int64_t v = comparison();
        while (take("&&")) v = comparison() && v;
        return v;
    }
    int64_t expression() {
        int64_t v = conjunction();
        while (take("||")) v = conjunction() || v;
        return v;
    }
};

} // namespace

int64_t pipl_evaluate(const std::string& expression, const PiplDocument& document, bool* ok) {
    Evaluator e{expression, document};
    int64_t v = e.expression();
    e.space();
    *ok = e.ok && e.at == expression.size();
    return *ok ? v : 0;
}

int16_t pipl_mode_of(int32_t channels, int32_t depth) {
    int i = depth == 8 ? 0 : depth == 16 ? 1 : 2;
    const int16_t rgb[] = {3, 11, 16}, grey[] = {1, 10, 17}, cmyk[] = {4, 13, 13},
                  multi[] = {7, 14, 14};
    if (channels == 3 || channels == 4) return rgb[i];
    if (channels <= 2) return grey[i];
    if (channels == 5) return cmyk[i];
    return multi[i];
}

std::string pipl_mode_name(int16_t mode) {
    if (mode >= 0 && mode < mode_count) return mode_names[mode];
    return "mode " + std::to_string(mode);
}

bool pipl_enabled(const PiplInfo& info, const PiplDocument& document) {
    if (!info.enable.empty()) {
        bool ok;
        return pipl_evaluate(info.enable, document, &ok) != 0 && ok;
    }
    int m = document.mode;
    return m >= 0 && size_t(m >> 3) < info.modes.size() &&
           (info.modes[size_t(m >> 3)] & (0x80 >> (m & 7)));
}
