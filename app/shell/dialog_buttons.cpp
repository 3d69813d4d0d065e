#include "dialog_buttons.h"

#include <QHBoxLayout>
#include <QPushButton>

namespace lintrel {

QHBoxLayout* okCancel(QPushButton*& ok, QPushButton*& cancel)
{
    ok = new QPushButton("OK");
    ok->setObjectName("Command1");
    ok->setDefault(true);
    cancel = new QPushButton("Cancel");
    cancel->setObjectName("Command2");
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

}  // namespace lintrel
