// Resource identifiers shared by the program and hushpane.rc.
#pragma once

#define IDI_APP_ICON 101
