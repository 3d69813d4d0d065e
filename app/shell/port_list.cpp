#include "port_list.h"

#include "serial/namespace.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <sstream>

namespace lintrel {

namespace {

std::string resolved(const std::string& path)
{
    const QString p = QFileInfo(QString::fromStdString(path)).canonicalFilePath();
    return p.toStdString();
}

// n -> resolved device of COMn where a rule names one.
struct ComMap {
    std::vector<std::pair<int, std::string>> mapped;   // as written
    std::vector<int> virtualPorts;

    ComMap()
    {
        mapped = serial::mappedPorts();
        const QDir folder(QString::fromStdString(serial::portFolder()));
        for (const QString& name : folder.entryList({"COM*"}, QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
            const int n = serial::comPortNumber(name.toStdString());
            if (n > 0)
                virtualPorts.push_back(n);
        }
        std::sort(virtualPorts.begin(), virtualPorts.end());
    }
    bool isVirtual(int n) const { return std::binary_search(virtualPorts.begin(), virtualPorts.end(), n); }
    const std::string* mappedPath(int n) const
    {
        for (const auto& [k, path] : mapped)
            if (k == n)
                return &path;
        return nullptr;
    }
};

int classicNumber(const std::string& node)
{
    const std::string prefix = "/dev/ttyS";
    if (node.rfind(prefix, 0) != 0 || node.size() == prefix.size())
        return 0;
    const std::string digits = node.substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) || digits.size() > 4)
        return 0;
    return std::stoi(digits) + 1;
}

std::string pad(const std::string& s, std::size_t width)
{
    return s.size() >= width ? s + "  " : s + std::string(width - s.size() + 2, ' ');
}

std::string comList(const std::vector<int>& numbers)
{
    std::string s;
    for (int n : numbers)
        s += (s.empty() ? "COM" : ",COM") + std::to_string(n);
    return s;
}

}  // namespace

PortList withComNumbers(const lt::devices::Listing& listing)
{
    PortList list;
    list.fromUdev = listing.fromUdev;
    list.note = listing.note;
    const ComMap map;
    for (const lt::devices::SerialDevice& d : listing.devices) {
        PortRow row{d, {}};
        const std::string real = resolved(d.node);
        for (const auto& [n, path] : map.mapped)
            if (!map.isVirtual(n) && !real.empty() && resolved(path) == real &&
                std::find(row.comNumbers.begin(), row.comNumbers.end(), n) == row.comNumbers.end())
                row.comNumbers.push_back(n);
        const int classic = classicNumber(d.node);
        if (classic > 0 && !map.isVirtual(classic) && !map.mappedPath(classic))
            row.comNumbers.push_back(classic);
        std::sort(row.comNumbers.begin(), row.comNumbers.end());
        list.rows.push_back(std::move(row));
    }
    return list;
}

PortList listPorts()
{
    return withComNumbers(lt::devices::listSerialDevices());
}

std::string portTableText(const PortList& list)
{
    std::ostringstream out;
    if (list.fromUdev)
        out << "Serial devices (from udev):\n";
    else
        out << "Serial devices (" << list.note << "):\n";
    if (list.rows.empty()) {
        out << "  none\n";
    } else {
        const char* const heads[] = {"DEVICE", "COM", "DRIVER", "USB ID", "SERIAL", "IN USE", "NAME"};
        std::vector<std::vector<std::string>> cells;
        for (const PortRow& r : list.rows) {
            const auto& d = r.device;
            std::string name = d.vendor;
            if (!d.product.empty())
                name += (name.empty() ? "" : " ") + d.product;
            std::string users;
            for (const std::string& u : d.users)
                users += (users.empty() ? "" : ", ") + u;
            cells.push_back({d.node, r.comNumbers.empty() ? "-" : comList(r.comNumbers),
                             d.driver.empty() ? "-" : d.driver,
                             d.vendorId.empty() ? "-" : d.vendorId + ":" + d.productId,
                             d.serial.empty() ? "-" : d.serial, users.empty() ? "-" : users, name});
        }
        std::vector<std::size_t> width(7, 0);
        for (std::size_t c = 0; c < 7; ++c) {
            width[c] = std::string(heads[c]).size();
            for (const auto& row : cells)
                width[c] = std::max(width[c], row[c].size());
        }
        std::string line;
        for (std::size_t c = 0; c < 7; ++c)
            line += c + 1 < 7 ? pad(heads[c], width[c]) : std::string(heads[c]);
        out << line << "\n";
        for (std::size_t i = 0; i < cells.size(); ++i) {
            line.clear();
            for (std::size_t c = 0; c < 7; ++c)
                line += c + 1 < 7 ? pad(cells[i][c], width[c]) : cells[i][c];
            while (!line.empty() && line.back() == ' ')
                line.pop_back();
            out << line << "\n";
            if (!list.rows[i].device.byId.empty())
                out << "  by-id: " << list.rows[i].device.byId << "\n";
        }
    }

    const ComMap map;
    std::vector<std::string> names;
    for (int n : map.virtualPorts)
        names.push_back("COM" + std::to_string(n) + "  virtual (" + serial::portFolder() + "/COM" +
                        std::to_string(n) + ")");
    for (const auto& [n, path] : map.mapped) {
        if (map.isVirtual(n))
            continue;
        const std::string real = resolved(path);
        names.push_back("COM" + std::to_string(n) + "  " + path +
                        (real.empty() ? "  (absent)" : real != path ? "  (" + real + ")" : ""));
    }
    out << "\nCOM names mapped or virtual (ports map " << serial::portsMapPath() << "):\n";
    if (names.empty())
        out << "  none\n";
    for (const std::string& s : names)
        out << "  " << s << "\n";
    return out.str();
}

std::vector<std::string> comLabels(int count)
{
    const ComMap map;
    std::vector<int> classic;
    for (const lt::devices::SerialDevice& d : lt::devices::listFromNames())
        if (int n = classicNumber(d.node))
            classic.push_back(n);
    std::vector<std::string> labels;
    for (int n = 1; n <= count; ++n) {
        std::string label = "COM" + std::to_string(n);
        if (map.isVirtual(n)) {
            label += " (virtual)";
        } else if (const std::string* path = map.mappedPath(n)) {
            const std::string real = resolved(*path);
            label += " (" + (real.empty() ? *path + ", absent" : real) + ")";
        } else if (std::find(classic.begin(), classic.end(), n) != classic.end()) {
            label += " (/dev/ttyS" + std::to_string(n - 1) + ")";
        }
        labels.push_back(label);
    }
    return labels;
}

}  // namespace lintrel
