#include "registration.h"

#include <QCoreApplication>

namespace lintrel {

// There is no registry stand-in yet: the association stays as it is.
void EnsureFileAssociation(const std::string&, const std::string&) {}

// Without a registry stand-in nothing is written; false says so.
bool SetStartEntry(bool, const std::string&, const std::string&, bool, bool)
{
    return false;
}

std::string ProgramPath()
{
    return QCoreApplication::applicationFilePath().toStdString();
}

}  // namespace lintrel
