// Tools > "&Ping IP Address..." until the ping tool is linked in; the ping
// tool's library supplies showPingTool in place of this file.
#include "shell_tools.h"

namespace lintrel {

void showPingTool(QWidget* parent)
{
    notYet(parent, "The ping tool");
}

}  // namespace lintrel
