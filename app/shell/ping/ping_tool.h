// The ping tool (Tools > "&Ping IP Address...").
#pragma once

class QWidget;

namespace lintrel {

// Opens the ping tool over parent, or brings the one already open forward.
void showPingTool(QWidget* parent);

}  // namespace lintrel
