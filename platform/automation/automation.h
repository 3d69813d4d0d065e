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

    std::optional<std::int32_t> idOfName(const std::string& name) const;
    std::optional<std::string> nameOf(std::int32_t dispid) const;
    std::vector<std::int32_t> propertyIds() const;   // in DISPID order
    bool isWritable(std::int32_t dispid) const;

    ErrorInfo get(std::int32_t dispid, Variant& out) const;
    ErrorInfo put(std::int32_t dispid, const Variant& value) const;
    ErrorInfo invoke(std::int32_t dispid, Args& args, Variant& result) const;

private:
    struct Entry { std::string name; CheckedGetter get; Setter set; Method method; };
    std::map<std::int32_t, Entry> entries_;
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

// Property bag: name (case-insensitive) to Variant.
class PropertyBag {
public:
    void write(const std::string& name, const Variant& v);
    std::optional<Variant> read(const std::string& name) const;
    std::size_t size() const { return values_.size(); }
private:
    std::map<std::string, Variant> values_;
};

// Byte-exact little-endian stream used for binary persistence.
class ByteStream {
public:
    ByteStream() = default;
    explicit ByteStream(std::string bytes) : data_(std::move(bytes)) {}
    const std::string& bytes() const { return data_; }
    bool atEnd() const { return pos_ >= data_.size(); }

    void writeU8(std::uint8_t v);
    void writeI16(std::int16_t v);
    void writeI32(std::int32_t v);
    void writeDouble(double v);
    void writeString(const std::string& s);   // 32-bit length then bytes

    // Reads return false (and leave the output untouched) on short data.
    bool readU8(std::uint8_t& v);
    bool readI16(std::int16_t& v);
    bool readI32(std::int32_t& v);
    bool readDouble(double& v);
    bool readString(std::string& s);

private:
    void put(std::uint64_t v, int n);
    bool take(std::uint64_t& v, int n);
    std::string data_;
    std::size_t pos_ = 0;
};

}  // namespace lt::automation
