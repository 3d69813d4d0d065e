// Filling Qt boxes with the names of the modem list's entries.
#include "modem_widgets.h"

#include "comm_object.h"
#include "modem_options.h"

#include <QComboBox>
#include <QListWidget>

namespace {

using qelcomm::modem::Field_Title;

struct Entry {
    QString title;
    int number;
};

// Entry 0 and the titles of the list; ok tells whether the list opened.
std::vector<Entry> modemNames(bool* ok)
{
    std::vector<Entry> names{{QString::fromLatin1("Hayes Compatible"), 0}};
    const auto list = qelcomm::modem::readModemList();
    *ok = list.has_value();
    if (list)
        for (std::size_t i = 0; i < list->size(); ++i) {
            const std::string& line = (*list)[i];
            names.push_back({QString::fromLatin1(line.substr(0, line.find('\t'))), int(i + 1)});
        }
    return names;
}

QString currentTitle(QcHandle object)
{
    const qelcomm::CommObjectData* d = qelcomm::resolve(object);
    return d ? QString::fromLatin1(qelcomm::modem::field(d->modemOptions, Field_Title)) : QString();
}

}  // namespace

QELCOMM_MODEM_WIDGETS_API std::int32_t FillComboWithModemNames(QcHandle object, QComboBox* combo)
{
    if (!qelcomm::isObject(object) || !combo)
        return 0;
    bool ok = false;
    const QString title = currentTitle(object);
    for (const Entry& e : modemNames(&ok)) {
        combo->addItem(e.title, e.number);
        if (e.title == title)
            combo->setCurrentIndex(combo->count() - 1);
    }
    return ok ? 1 : 0;
}

QELCOMM_MODEM_WIDGETS_API std::int32_t FillListWithModemNames(QcHandle object, QListWidget* list)
{
    if (!qelcomm::isObject(object) || !list)
        return 0;
    bool ok = false;
    const QString title = currentTitle(object);
    for (const Entry& e : modemNames(&ok)) {
        auto* item = new QListWidgetItem(e.title, list);
        item->setData(Qt::UserRole, e.number);
        if (e.title == title)
            list->setCurrentItem(item);
    }
    return ok ? 1 : 0;
}
