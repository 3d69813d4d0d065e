// The About window: title, version line, the maker's web address and the
// system information button.
#pragma once

#include <QDialog>

namespace lintrel {

// The maker's web page, opened from the Help menu and the About window.
extern const char* const kMakerWebAddress;

// Opens the maker's web page in the desktop's browser, with the busy
// pointer shown meanwhile.
void openMakerWebPage();

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);

    // Starts the system information tool; this platform has none, so it
    // says that it is unavailable.
    void StartSysInfo();
};

}  // namespace lintrel
