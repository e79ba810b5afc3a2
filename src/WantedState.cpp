// VelmoraState: the rules of a wanted state of the file cache limits, written
// once for the DSC 3 resource, the Intune pair, the startup task and the module.

#include "WantedState.h"

#include <math.h>
#include <stdio.h>

#include <map>

#include <nlohmann/json.hpp>

namespace {

const uint64_t BytesPerMB = 1048576;
// With both hard limits on, the system takes no maximum below 16 MB.
const uint64_t SmallestHardMaximumMB = 16;
const DWORD BothHardLimits = FILE_CACHE_MAX_HARD_ENABLE | FILE_CACHE_MIN_HARD_ENABLE;

// One value of the input object, as the parser saw it: its JSON kind and, for
// a number with a point or an exponent, its text as written.
struct InputValue {
    enum Kind { Null, Boolean, Unsigned, Negative, Float, String, Array, Object } kind = Null;
    bool boolean = false;
    uint64_t number = 0;
    double real = 0;
    std::string text;
};

// Collects one flat JSON object from nlohmann's parser events: each property's
// value, nested values only by their kind. Anything but one object, and a name
// given twice, make the input not valid.
class ObjectReader {
public:
    std::map<std::string, InputValue> properties;
    std::string why;

    bool null() { return Value(InputValue()); }
    bool boolean(bool value)
    {
        InputValue v;
        v.kind = InputValue::Boolean;
        v.boolean = value;
        return Value(v);
    }
    bool number_integer(nlohmann::json::number_integer_t value)
    {
        InputValue v;
        v.kind = value < 0 ? InputValue::Negative : InputValue::Unsigned;
        v.number = value < 0 ? 0 : (uint64_t)value;
        v.text = std::to_string(value);
        return Value(v);
    }
    bool number_unsigned(nlohmann::json::number_unsigned_t value)
    {
        InputValue v;
        v.kind = InputValue::Unsigned;
        v.number = value;
        v.text = std::to_string(value);
        return Value(v);
    }
    bool number_float(nlohmann::json::number_float_t value, const std::string &text)
    {
        InputValue v;
        v.kind = InputValue::Float;
        v.real = value;
        v.text = text;
        return Value(v);
    }
    bool string(std::string &)
    {
        InputValue v;
        v.kind = InputValue::String;
        return Value(v);
    }
    bool binary(nlohmann::json::binary_t &) { return Fail("the wanted state is not JSON text"); }
    bool start_object(std::size_t)
    {
        if (depth_ == 0 && sawObject_)
            return Fail("the wanted state is one JSON object");
        if (depth_ == 0)
            sawObject_ = true;
        else if (depth_ == 1)
            Nested(InputValue::Object);
        depth_++;
        return true;
    }
    bool key(std::string &name)
    {
        if (depth_ != 1)
            return true;
        if (properties.count(name) != 0)
            return Fail("the property \"" + name + "\" is given twice");
        key_ = name;
        return true;
    }
    bool end_object()
    {
        depth_--;
        return true;
    }
    bool start_array(std::size_t)
    {
        if (depth_ == 0)
            return Fail("the wanted state is a JSON object, not an array");
        if (depth_ == 1)
            Nested(InputValue::Array);
        depth_++;
        return true;
    }
    bool end_array()
    {
        depth_--;
        return true;
    }
    bool parse_error(std::size_t position, const std::string &, const nlohmann::detail::exception &)
    {
        return Fail("the wanted state is not JSON (at byte " + std::to_string(position) + ")");
    }

private:
    bool Value(const InputValue &value)
    {
        if (depth_ == 0)
            return Fail("the wanted state is a JSON object, not a single value");
        if (depth_ == 1)
            properties[key_] = value;
        return true;
    }
    void Nested(InputValue::Kind kind)
    {
        InputValue v;
        v.kind = kind;
        properties[key_] = v;
    }
    bool Fail(const std::string &reason)
    {
        if (why.empty())
            why = reason;
        return false;
    }

    int depth_ = 0;
    bool sawObject_ = false;
    std::string key_;
};

const char *KindName(InputValue::Kind kind)
{
    switch (kind) {
    case InputValue::Null: return "null";
    case InputValue::Boolean: return "a boolean";
    case InputValue::Unsigned:
    case InputValue::Negative:
    case InputValue::Float: return "a number";
    case InputValue::String: return "a string";
    case InputValue::Array: return "an array";
    case InputValue::Object: return "an object";
    }
    return "a value";
}

// A JSON integer, as the schema's "integer" takes it: any number without a
// fractional part, 256.0 and 2.56e2 included.
bool IsInteger(const InputValue &value)
{
    if (value.kind == InputValue::Unsigned || value.kind == InputValue::Negative)
        return true;
    return value.kind == InputValue::Float && isfinite(value.real) && floor(value.real) == value.real;
}

// A size in MB: a JSON integer of 1 or more. One past 64 bits is read as the
// largest 64-bit number, which no program takes.
bool ReadMB(const std::string &name, const InputValue &value, uint64_t *mb, std::string *why)
{
    if (value.kind == InputValue::Unsigned && value.number >= 1) {
        *mb = value.number;
        return true;
    }
    if (value.kind == InputValue::Float && IsInteger(value) && value.real >= 1) {
        *mb = value.real >= 18446744073709551615.0 ? UINT64_MAX : (uint64_t)value.real;
        return true;
    }
    bool number = value.kind == InputValue::Unsigned || value.kind == InputValue::Negative ||
                  value.kind == InputValue::Float;
    *why = name + " is a whole number of MB, 1 or more, not " + (number ? value.text : KindName(value.kind));
    return false;
}

// A share of memory: a decimal above 0 and at most 100, written with up to four
// places after the point and no exponent, read from its text as whole
// ten-thousandths.
bool ReadShare(const std::string &name, const InputValue &value, uint32_t *share, std::string *why)
{
    const std::string wanted = name + " is a share of memory above 0 and at most 100, with up to four places"
                                      " after the point and no exponent (12.5, 1.5625), not ";
    if (value.kind != InputValue::Unsigned && value.kind != InputValue::Negative && value.kind != InputValue::Float) {
        *why = wanted + KindName(value.kind);
        return false;
    }
    const std::string &text = value.text;
    uint64_t whole = 0;
    uint64_t fraction = 0;
    size_t at = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && whole <= 1000) {
        whole = whole * 10 + (uint64_t)(text[at] - '0');
        at++;
    }
    bool digits = at > 0;
    int places = 0;
    if (digits && at < text.size() && text[at] == '.') {
        at++;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && places < 5) {
            fraction = fraction * 10 + (uint64_t)(text[at] - '0');
            places++;
            at++;
        }
    }
    if (!digits || at != text.size() || places > 4) {
        *why = wanted + text;
        return false;
    }
    for (int place = places; place < 4; place++)
        fraction *= 10;
    uint64_t tenThousandths = whole * ShareScale + fraction;
    if (tenThousandths == 0 || tenThousandths > WholeShare) {
        *why = wanted + text;
        return false;
    }
    *share = (uint32_t)tenThousandths;
    return true;
}

bool ReadLimit(const std::map<std::string, InputValue> &properties, const std::string &limit, WantedLimit *wanted,
               std::string *why)
{
    auto mb = properties.find(limit + "MB");
    if (mb != properties.end()) {
        if (!ReadMB(mb->first, mb->second, &wanted->mb, why))
            return false;
        wanted->hasMB = true;
    }
    auto share = properties.find(limit + "Percent");
    if (share != properties.end()) {
        if (!ReadShare(share->first, share->second, &wanted->share, why))
            return false;
        wanted->hasShare = true;
    }
    return true;
}

std::string MBText(uint64_t mb)
{
    return std::to_string(mb) + " MB";
}

std::string Dump(const nlohmann::ordered_json &value)
{
    // Text that is not UTF-8 (a system message in another code page) is
    // replaced, never a reason to fail.
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// A share as a JSON number: whole, or the double nearest its decimal, which
// JSON writes back as that decimal.
nlohmann::ordered_json ShareNumber(uint32_t share)
{
    if (share % ShareScale == 0)
        return share / ShareScale;
    return (double)share / ShareScale;
}

// One size of the command line, "<whole>MB" or "<decimal>%", as the property
// and the number it is in the wanted state's JSON; false where it is neither.
bool SizeFlag(const std::string &limit, const std::string &text, std::string *property, std::string *number)
{
    size_t digits = text.find_first_not_of("0123456789");
    if (digits == 0 || digits == std::string::npos)
        return false;
    if (text.compare(digits, std::string::npos, "MB") == 0) {
        *property = limit + "MB";
        *number = text.substr(0, digits);
        return true;
    }
    size_t end = digits;
    if (text[end] == '.') {
        end = text.find_first_not_of("0123456789", digits + 1);
        if (end == digits + 1 || end == std::string::npos)
            return false;
    }
    if (text.compare(end, std::string::npos, "%") != 0)
        return false;
    *property = limit + "Percent";
    *number = text.substr(0, end);
    return true;
}

} // namespace

std::string ShareText(uint32_t share)
{
    char text[32];
    snprintf(text, sizeof(text), "%u.%04u", share / ShareScale, share % ShareScale);
    std::string written = text;
    while (written.back() == '0')
        written.pop_back();
    if (written.back() == '.')
        written.pop_back();
    return written;
}

bool ParseWantedState(const std::string &text, WantedState *wanted, std::string *why)
{
    ObjectReader reader;
    if (!nlohmann::json::sax_parse(text, &reader)) {
        *why = reader.why.empty() ? "the wanted state is not JSON" : reader.why;
        return false;
    }
    static const char *const known[] = {"hardLimits",   "minimumMB",    "maximumMB", "minimumPercent",
                                        "maximumPercent", "minimumBytes", "maximumBytes", "flags",
                                        "_inDesiredState"};
    for (const auto &property : reader.properties) {
        bool isKnown = false;
        for (const char *name : known)
            isKnown = isKnown || property.first == name;
        if (!isKnown) {
            *why = "unknown property \"" + property.first +
                   "\": the wanted state takes hardLimits, minimumMB, maximumMB, minimumPercent and"
                   " maximumPercent, written as here";
            return false;
        }
    }
    WantedState parsed;
    auto hard = reader.properties.find("hardLimits");
    if (hard != reader.properties.end()) {
        if (hard->second.kind == InputValue::Null) {
            *why = "hardLimits is true or false: null, one hard limit alone, is what the system may hold but"
                   " cannot be asked for";
            return false;
        }
        if (hard->second.kind != InputValue::Boolean) {
            *why = std::string("hardLimits is true or false, not ") + KindName(hard->second.kind);
            return false;
        }
        parsed.hardLimits = hard->second.boolean;
    }
    if (!ReadLimit(reader.properties, "minimum", &parsed.minimum, why) ||
        !ReadLimit(reader.properties, "maximum", &parsed.maximum, why))
        return false;
    // The read-only properties of a state may come back as input: taken, of
    // their type, and ignored.
    for (const char *name : {"minimumBytes", "maximumBytes", "flags"}) {
        auto value = reader.properties.find(name);
        if (value != reader.properties.end() && !IsInteger(value->second)) {
            *why = std::string(name) + " is read-only, and a whole number where it is given";
            return false;
        }
    }
    auto verdict = reader.properties.find("_inDesiredState");
    if (verdict != reader.properties.end() && verdict->second.kind != InputValue::Boolean) {
        *why = "_inDesiredState is read-only, and true or false where it is given";
        return false;
    }
    *wanted = parsed;
    return true;
}

bool NeedsMemory(const WantedState &wanted)
{
    return wanted.minimum.hasShare || wanted.maximum.hasShare;
}

uint64_t ShareOfMemoryMB(uint64_t memoryBytes, uint32_t share)
{
    // floor(m * s / (10^6 * 2^20)) = floor(floor(m * s / 2^20) / 10^6). With
    // m = q * 2^20 + r: floor(m * s / 2^20) = q * s + floor(r * s / 2^20), where
    // q * s < 2^44 * 10^6 and r * s < 2^40, so that nothing overflows 64 bits.
    uint64_t quotient = memoryBytes >> 20;
    uint64_t remainder = memoryBytes & (BytesPerMB - 1);
    uint64_t scaled = quotient * share + ((remainder * share) >> 20);
    return scaled / WholeShare;
}

Refusal ResolveWantedState(const WantedState &wanted, const Memory &memory, bool capAtMemory, uint64_t largestMB,
                           ResolvedState *resolved, std::string *why)
{
    ResolvedState sizes;
    sizes.hardLimits = wanted.hardLimits;
    if (!wanted.hardLimits) {
        if (wanted.minimum.hasMB || wanted.minimum.hasShare || wanted.maximum.hasMB || wanted.maximum.hasShare) {
            *why = "hardLimits false switches both hard limits off and keeps the sizes in force: it takes no sizes";
            return Refusal::CannotHold;
        }
        *resolved = sizes;
        return Refusal::None;
    }
    struct {
        const char *name;
        const WantedLimit &limit;
        uint64_t *mb;
    } limits[] = {{"minimum", wanted.minimum, &sizes.minimumMB}, {"maximum", wanted.maximum, &sizes.maximumMB}};
    for (const auto &limit : limits) {
        std::string name = limit.name;
        if (limit.limit.hasMB && limit.limit.hasShare) {
            *why = "give " + name + "MB or " + name + "Percent, not both";
            return Refusal::CannotHold;
        }
        if (!limit.limit.hasMB && !limit.limit.hasShare) {
            *why = "both hard limits need both sizes, each as MB or Percent: " + name + "MB or " + name +
                   "Percent is missing";
            return Refusal::CannotHold;
        }
    }
    for (const auto &limit : limits) {
        std::string name = limit.name;
        if (limit.limit.hasMB) {
            *limit.mb = limit.limit.mb;
            continue;
        }
        if (!memory.known) {
            *why = "the physical memory could not be read, so " + name + "Percent " + ShareText(limit.limit.share) +
                   " cannot be worked out";
            return Refusal::MemoryUnreadable;
        }
        *limit.mb = ShareOfMemoryMB(memory.bytes, limit.limit.share);
        if (*limit.mb == 0) {
            *why = name + "Percent " + ShareText(limit.limit.share) + " of this machine's " +
                   std::to_string(memory.bytes) + " bytes of physical memory is less than 1 MB";
            return Refusal::CannotHold;
        }
    }
    std::string asked = MBText(sizes.minimumMB) + " and " + MBText(sizes.maximumMB) +
                        " cannot be held as hard limits: ";
    if (sizes.minimumMB > largestMB || sizes.maximumMB > largestMB) {
        *why = asked + "this program takes sizes up to " + MBText(largestMB);
        return Refusal::CannotHold;
    }
    if (sizes.minimumMB >= sizes.maximumMB) {
        *why = asked + "the minimum must be below the maximum";
        return Refusal::CannotHold;
    }
    if (sizes.maximumMB < SmallestHardMaximumMB) {
        *why = asked + "with both hard limits on, the maximum must be at least 16 MB";
        return Refusal::CannotHold;
    }
    if (capAtMemory && memory.known && sizes.maximumMB > memory.bytes / BytesPerMB) {
        *why = asked + "a maximum above this machine's " + MBText(memory.bytes / BytesPerMB) +
               " of physical memory caps nothing";
        return Refusal::CannotHold;
    }
    *resolved = sizes;
    return Refusal::None;
}

bool LimitsHold(const ResolvedState &resolved, const LimitsInForce &limits)
{
    if (!resolved.hardLimits)
        return limits.flags == 0;
    return limits.flags == BothHardLimits && limits.minimumBytes == resolved.minimumMB * BytesPerMB &&
           limits.maximumBytes == resolved.maximumMB * BytesPerMB;
}

bool LimitsLowered(const ResolvedState &resolved, const LimitsInForce &limits)
{
    return resolved.hardLimits && limits.flags == BothHardLimits &&
           limits.minimumBytes == resolved.minimumMB * BytesPerMB &&
           limits.maximumBytes < resolved.maximumMB * BytesPerMB;
}

std::string StateJson(const LimitsInForce &limits, const WantedState &wanted, const Memory &memory,
                      bool withVerdict, bool inDesiredState)
{
    nlohmann::ordered_json state = nlohmann::ordered_json::object();
    if (limits.flags == BothHardLimits)
        state["hardLimits"] = true;
    else if (limits.flags == 0)
        state["hardLimits"] = false;
    else
        state["hardLimits"] = nullptr;
    if (limits.flags != 0) {
        const struct {
            const char *name;
            uint64_t bytes;
            const WantedLimit &wanted;
        } sizes[] = {{"minimum", limits.minimumBytes, wanted.minimum}, {"maximum", limits.maximumBytes, wanted.maximum}};
        for (const auto &size : sizes) {
            std::string name = size.name;
            if (size.wanted.hasShare && memory.known &&
                size.bytes == ShareOfMemoryMB(memory.bytes, size.wanted.share) * BytesPerMB && size.bytes != 0) {
                state[name + "Percent"] = ShareNumber(size.wanted.share);
            } else if (size.bytes % BytesPerMB == 0 && size.bytes != 0) {
                state[name + "MB"] = size.bytes / BytesPerMB;
            }
        }
    }
    state["minimumBytes"] = limits.minimumBytes;
    state["maximumBytes"] = limits.maximumBytes;
    state["flags"] = limits.flags;
    if (withVerdict)
        state["_inDesiredState"] = inDesiredState;
    return Dump(state);
}

bool ParseWantedFlags(const std::string &minimum, const std::string &maximum, WantedState *wanted, std::string *why)
{
    // The flags become the JSON object they stand for, read by the same rules.
    std::string json = "{\"hardLimits\":true";
    const struct {
        const char *limit;
        const std::string &text;
    } flags[] = {{"minimum", minimum}, {"maximum", maximum}};
    for (const auto &flag : flags) {
        std::string property;
        std::string number;
        if (!SizeFlag(flag.limit, flag.text, &property, &number)) {
            *why = std::string("--") + flag.limit + " " + flag.text +
                   ": a size is whole megabytes (256MB) or a share of physical memory in percent (12.5%)";
            return false;
        }
        json += ",\"" + property + "\":" + number;
    }
    return ParseWantedState(json + "}", wanted, why);
}

std::string WantedJson(const WantedState &wanted)
{
    nlohmann::ordered_json state = nlohmann::ordered_json::object();
    state["hardLimits"] = wanted.hardLimits;
    const struct {
        const char *name;
        const WantedLimit &limit;
    } limits[] = {{"minimum", wanted.minimum}, {"maximum", wanted.maximum}};
    for (const auto &limit : limits) {
        std::string name = limit.name;
        if (limit.limit.hasMB)
            state[name + "MB"] = limit.limit.mb;
        else if (limit.limit.hasShare)
            state[name + "Percent"] = ShareNumber(limit.limit.share);
    }
    return Dump(state);
}

std::string ResolvedJson(const ResolvedState &resolved)
{
    nlohmann::ordered_json state = nlohmann::ordered_json::object();
    state["hardLimits"] = resolved.hardLimits;
    if (resolved.hardLimits) {
        state["minimumMB"] = resolved.minimumMB;
        state["maximumMB"] = resolved.maximumMB;
    }
    return Dump(state);
}

std::string MessageJson(const char *level, const std::string &text)
{
    nlohmann::ordered_json message = nlohmann::ordered_json::object();
    message[level] = text;
    return Dump(message);
}
