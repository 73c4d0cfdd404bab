#pragma once
// TAssArray: a small ordered map from text keys to text values; the header
// map of a prepared message.
//
// Entries keep the order in which their keys first appeared. Keys compare
// exactly (case-sensitive) and every operation uses the first entry whose key
// matches. Values are stored encoded so that each is one line: a backslash is
// doubled, carriage return and line feed become "\r" and "\n". The Bayesian
// filter tokenizes the stored form, so the encoding is part of what it learns.
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TAssArray {
public:
    // The decoded value of the first entry with this key; when that is empty,
    // `defaultValue`.
    std::string GetValue(std::string_view key, std::string_view defaultValue = {}) const;
    // Replaces the first matching entry's value, or appends a new entry whose
    // key has every tab, carriage return and line feed removed.
    void SetValue(std::string_view key, std::string_view value);
    // Adds `value` to what the key holds, after a "," when `comma` is set and
    // the key already holds a non-empty value.
    void AppendValue(std::string_view key, std::string_view value, bool comma);

    int Count() const { return static_cast<int>(FKeys.size()); }
    const std::string& KeyAt(int index) const { return FKeys.at(static_cast<std::size_t>(index)); }
    // The encoded form of the entry's value.
    const std::string& StoredValueAt(int index) const {
        return FValues.at(static_cast<std::size_t>(index));
    }

    static std::string EncodeValue(std::string_view value);
    // Appends the encoded value to `stored`.
    static void AppendEncoded(std::string& stored, std::string_view value);
    static std::string DecodeValue(std::string_view stored);

private:
    // The index of the first entry whose key equals `key`, or -1.
    int IndexOfKey(std::string_view key) const;

    std::vector<std::string> FKeys;
    std::vector<std::string> FValues;
    // The entry the last successful lookup found (always the first entry of
    // its key): folded and repeated header lines ask for it again at once.
    mutable int FLastFound = -1;
    // First entry of each key, built once the map outgrows a linear scan, so
    // that a header block of many thousand distinct names stays linear.
    struct TKeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const noexcept {
            return std::hash<std::string_view>{}(key);
        }
    };
    std::unordered_map<std::string, int, TKeyHash, std::equal_to<>> FIndex;
};
