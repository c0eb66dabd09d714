// The program's MFC-style layer: only the classes and calls the program uses.
#pragma once

#include "afx_app.h"
#include "afx_coll.h"
#include "afx_exceptions.h"
#include "afx_file.h"
#include "afx_filedialog.h"
#include "afx_imagelist.h"
#include "afx_object.h"
#include "afx_string.h"
#include "afx_sync.h"
#include "afx_thread.h"
#include "afx_wnd.h"
