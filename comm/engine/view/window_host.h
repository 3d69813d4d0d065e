// Whether this process can show a window of the widgets libraries: it needs
// a QApplication (a core application, such as a windowless program's, has
// no widgets), on a platform that shows something. The offscreen platform
// counts only when it was asked for (QT_QPA_PLATFORM), not when a display
// that could not be reached fell back to it: a modal dialog nobody can see
// would never end.
#pragma once

#include <QApplication>
#include <QByteArray>

namespace qelcomm {

inline bool canShowWindows()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    return QGuiApplication::platformName() != QLatin1String("offscreen") ||
           qgetenv("QT_QPA_PLATFORM").startsWith("offscreen");
}

}  // namespace qelcomm
