#include "unArrays.h"

namespace {

// Up to this many entries a scan from the first is faster than a hash lookup
// (and a header map rarely holds more: building the index would cost more
// than it saves).
constexpr std::size_t kLinearScanLimit = 64;

bool isStrippedFromKeys(char c) {
    return c == '\t' || c == '\r' || c == '\n';
}

} // namespace

void TAssArray::AppendEncoded(std::string& stored, std::string_view value) {
    std::size_t from = 0;
    for (;;) {
        std::size_t special = from;
        while (special < value.size() && value[special] != '\\' && value[special] != '\r' &&
               value[special] != '\n')
            ++special;
        stored.append(value, from, special - from);
        if (special == value.size())
            return;
        switch (value[special]) {
        case '\\':
            stored += "\\\\";
            break;
        case '\r':
            stored += "\\r";
            break;
        default:
            stored += "\\n";
        }
        from = special + 1;
    }
}

std::string TAssArray::EncodeValue(std::string_view value) {
    std::string stored;
    stored.reserve(value.size());
    AppendEncoded(stored, value);
    return stored;
}

std::string TAssArray::DecodeValue(std::string_view stored) {
    std::string value;
    value.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        char c = stored[i];
        if (c != '\\') {
            value += c;
            continue;
        }
        // A backslash with an unknown follower, or standing last, is dropped
        // together with that follower.
        if (++i >= stored.size())
            break;
        switch (stored[i]) {
        case '\\':
            value += '\\';
            break;
        case 'r':
            value += '\r';
            break;
        case 'n':
            value += '\n';
            break;
        default:
            break;
        }
    }
    return value;
}

int TAssArray::IndexOfKey(std::string_view key) const {
    if (FLastFound >= 0 && FKeys[static_cast<std::size_t>(FLastFound)] == key)
        return FLastFound;
    int index = -1;
    if (FKeys.size() <= kLinearScanLimit) {
        for (std::size_t i = 0; i < FKeys.size(); ++i)
            if (FKeys[i] == key) {
                index = static_cast<int>(i);
                break;
            }
    } else if (auto found = FIndex.find(key); found != FIndex.end()) {
        index = found->second;
    }
    if (index >= 0)
        FLastFound = index;
    return index;
}

std::string TAssArray::GetValue(std::string_view key, std::string_view defaultValue) const {
    int index = IndexOfKey(key);
    std::string value = index < 0 ? std::string() : DecodeValue(FValues[index]);
    if (value.empty())
        value = defaultValue;
    return value;
}

void TAssArray::SetValue(std::string_view key, std::string_view value) {
    if (int index = IndexOfKey(key); index >= 0) {
        FValues[index] = EncodeValue(value);
        return;
    }
    std::string cleanKey(key);
    std::erase_if(cleanKey, isStrippedFromKeys);
    FKeys.push_back(std::move(cleanKey));
    FValues.push_back(EncodeValue(value));
    if (FKeys.size() == kLinearScanLimit + 1) {
        for (std::size_t i = 0; i < FKeys.size(); ++i)
            FIndex.try_emplace(FKeys[i], static_cast<int>(i));
    } else if (FKeys.size() > kLinearScanLimit + 1) {
        FIndex.try_emplace(FKeys.back(), static_cast<int>(FKeys.size() - 1));
    }
}

void TAssArray::AppendValue(std::string_view key, std::string_view value, bool comma) {
    int index = IndexOfKey(key);
    if (index < 0) {
        SetValue(key, value);
        return;
    }
    // The encoding works character by character, so encoding the joined
    // value equals joining the encoded pieces: no decode and re-encode of
    // what the entry holds, which keeps a header folded over thousands of
    // lines linear. An empty decoded value is exactly an empty stored one.
    std::string& stored = FValues[index];
    if (comma && !stored.empty())
        stored += ',';
    AppendEncoded(stored, value);
}
