// Resource identifiers of ZarvexDevice.ax.
#pragma once

#define IDD_ZARVEX_PROP 101     // the property page's dialog
#define IDS_ZARVEX_PROP_TITLE 1 // its title, "Zarvex"
#define IDC_RESOLUTION 1001     // combo box: the seven output sizes
#define IDC_FRAMERATE 1002      // edit: frames per second
