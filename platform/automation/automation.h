// Typed stand-in for the automation pieces the controls need: variants,
// dispatch tables, error objects, event connection points, property bags
// and little-endian binary streams for persistence.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace lt::automation {

using HResult = std::uint32_t;
constexpr HResult kOk = 0;
constexpr HResult kInvalidCall = 0x800A0005;       // invalid procedure call
constexpr HResult kTypeMismatch = 0x800A000D;
constexpr HResult kMemberNotFound = 0x80020003;
constexpr HResult kFail = 0x80004005;
constexpr HResult kUnexpected = 0x8000FFFF;
constexpr HResult kOutOfMemory = 0x8007000E;
constexpr HResult kBadVarType = 0x80020008;

// Automation boolean: true is -1, false is 0.
constexpr std::int16_t kVariantTrue = -1;
constexpr std::int16_t kVariantFalse = 0;

class Variant {
public:
    struct Empty { bool operator==(const Empty&) const = default; };
    struct Bool { bool value; bool operator==(const Bool&) const = default; };
    using Storage = std::variant<Empty, Bool, std::int16_t, std::int32_t, double, std::string>;

    Variant() = default;
    static Variant fromBool(bool b) { Variant v; v.v_ = Bool{b}; return v; }
    Variant(std::int16_t i) : v_(i) {}
    Variant(std::int32_t i) : v_(i) {}
    Variant(double d) : v_(d) {}
    Variant(std::string s) : v_(std::move(s)) {}
    Variant(const char* s) : v_(std::string(s)) {}

    enum class Type { Empty, Bool, Int16, Int32, Double, String };
    Type type() const { return static_cast<Type>(v_.index()); }
    bool isEmpty() const { return type() == Type::Empty; }

    // Conversions; nullopt when the value cannot be represented.
    bool toBool() const;                       // any nonzero number is true
    std::int16_t toAutomationBool() const { return toBool() ? kVariantTrue : kVariantFalse; }
    std::optional<std::int32_t> toInt32() const;
    std::optional<std::int16_t> toInt16() const;
    std::optional<double> toDouble() const;
    std::string toString() const;              // bytes unchanged for strings

    bool operator==(const Variant& o) const;

private:
    Storage v_;
};

// Error raised by a control member: description, source, HRESULT and the
// control's own result code.
struct ErrorInfo {
    HResult hresult = kOk;
    std::int32_t code = 0;
    std::string description;
    std::string source;
    bool failed() const { return hresult != kOk; }
};

using Args = std::vector<Variant*>;   // pointers so a callee can write back

// Maps DISPID and case-insensitive name to a property or a method.
class DispatchTable {
public:
    using Getter = std::function<Variant()>;
    using Setter = std::function<ErrorInfo(const Variant&)>;
    using Method = std::function<ErrorInfo(Args&, Variant& result)>;
    // A read that can fail (a blocking read refused while another runs).
    using CheckedGetter = std::function<ErrorInfo(Variant& out)>;

    void addProperty(std::int32_t dispid, const std::string& name, Getter get, Setter set = {});
    void addCheckedProperty(std::int32_t dispid, const std::string& name, CheckedGetter get, Setter set = {});
    void addMethod(std::int32_t dispid, const std::string& name, Method m);

    // Observer of property accesses (a trace): called after every read
    // that gave a value and after every write, with the value read or
    // written; for members marked with observeBefore(), before the write.
    enum class Access { Read, Write };
    using Observer = std::function<void(std::int32_t dispid, const std::string& name, Access, const Variant&)>;
    void setObserver(Observer observer) { observer_ = std::move(observer); }
    void observeBefore(std::int32_t dispid) { entries_[dispid].observeFirst = true; }

    std::optional<std::int32_t> idOfName(const std::string& name) const;
    std::optional<std::string> nameOf(std::int32_t dispid) const;
    std::vector<std::int32_t> propertyIds() const;   // in DISPID order
    bool isWritable(std::int32_t dispid) const;

    ErrorInfo get(std::int32_t dispid, Variant& out) const;
    ErrorInfo put(std::int32_t dispid, const Variant& value) const;
    ErrorInfo invoke(std::int32_t dispid, Args& args, Variant& result) const;

private:
    struct Entry {
        std::string name;
        CheckedGetter get;
        Setter set;
        Method method;
        bool observeFirst = false;
    };
    std::map<std::int32_t, Entry> entries_;
    Observer observer_;
    std::map<std::string, std::int32_t> byName_;   // lower-case key
};

// Sink of a control's event interface.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void onEvent(std::int32_t dispid, Args& args) = 0;
};

// Connection point: sinks called synchronously in connection order.  A sink
// may disconnect itself or others, or destroy the owner, during a call.
class ConnectionPoint {
public:
    ConnectionPoint();
    ~ConnectionPoint();
    std::uint32_t connect(EventSink* sink);        // returns cookie (never 0)
    bool disconnect(std::uint32_t cookie);
    std::size_t count() const;
    void fire(std::int32_t dispid, Args& args);

private:
    struct Conn { std::uint32_t cookie; EventSink* sink; };
    std::shared_ptr<std::vector<Conn>> conns_;
    std::shared_ptr<bool> alive_;
    std::uint32_t next_ = 1;
};

// Property bag: name (case-insensitive) to Variant, and to nested bags
// for object-valued properties (a font).
class PropertyBag {
public:
    void write(const std::string& name, const Variant& v);
    std::optional<Variant> read(const std::string& name) const;
    void writeObject(const std::string& name, const PropertyBag& object);
    const PropertyBag* readObject(const std::string& name) const;   // null when absent
    std::size_t size() const { return values_.size() + objects_.size(); }
private:
    std::map<std::string, Variant> values_;
    std::map<std::string, std::shared_ptr<PropertyBag>> objects_;
};

// Byte-exact little-endian stream used for binary persistence.
class ByteStream {
public:
    ByteStream() = default;
    explicit ByteStream(std::string bytes) : data_(std::move(bytes)) {}
    const std::string& bytes() const { return data_; }
    bool atEnd() const { return pos_ >= data_.size(); }
    std::size_t remaining() const { return data_.size() - pos_; }

    void writeU8(std::uint8_t v);
    void writeI16(std::int16_t v);
    void writeU16(std::uint16_t v);
    void writeI32(std::int32_t v);
    void writeU32(std::uint32_t v);
    void writeBytes(const std::string& bytes);
    void writeDouble(double v);
    void writeString(const std::string& s);   // 32-bit length then bytes

    // Reads return false (and leave the output untouched) on short data.
    bool readU8(std::uint8_t& v);
    bool readI16(std::int16_t& v);
    bool readU16(std::uint16_t& v);
    bool readI32(std::int32_t& v);
    bool readU32(std::uint32_t& v);
    bool readBytes(std::size_t n, std::string& bytes);
    bool readDouble(double& v);
    bool readString(std::string& s);

private:
    void put(std::uint64_t v, int n);
    bool take(std::uint64_t& v, int n);
    std::string data_;
    std::size_t pos_ = 0;
};

// --- The binary persistence form of property values.

// Variant types a persisted value carries before its bytes.
namespace VarType {
inline constexpr std::uint16_t Long = 3;      // 4 bytes
inline constexpr std::uint16_t String = 8;    // 32-bit byte count, UTF-16 units, terminator
inline constexpr std::uint16_t Object = 9;    // class id, then the object's own data
inline constexpr std::uint16_t Boolean = 11;  // 2 bytes, -1 or 0
}  // namespace VarType

// Strings hold bytes; in UTF-16 each byte is the code unit of the same
// value, and a unit above 255 reads back as '?'.
std::string toUtf16(const std::string& bytes);
std::string fromUtf16(const std::string& units);

// Writes the type word and the value converted to that type (Long,
// Boolean or String).
void writeValue(ByteStream& out, std::uint16_t type, const Variant& value);
// Reads a value that must carry the given type. kFail for data that ends
// early, kBadVarType for another type, kOutOfMemory for a string too large
// to hold; the stream position is then unspecified.
HResult readValue(ByteStream& in, std::uint16_t type, Variant& value);

// A font object as the stock font keeps it.
struct FontDesc {
    std::string name = "Terminal";
    std::uint32_t size = 100000;   // points times 10000
    std::int16_t weight = 400;
    std::int16_t charset = 255;    // OEM
    bool italic = false, underline = false, strikethrough = false;
    bool operator==(const FontDesc&) const = default;
};

// The font as a type 9 value: the type word, the stock font's class id,
// then version 1, charset, style bits, weight, size and the counted name.
void writeFont(ByteStream& out, const FontDesc& font);
HResult readFont(ByteStream& in, FontDesc& font);
// The font as a nested bag: Name, Size (points), Charset, Weight,
// Underline, Italic, Strikethrough. Missing keys keep their value.
PropertyBag fontBag(const FontDesc& font);
void readFontBag(const PropertyBag& bag, FontDesc& font);

}  // namespace lt::automation
