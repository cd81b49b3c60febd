// Resource identifiers. Their values are fixed: other programs and stored data refer to them.
#pragma once

#include "engine/names.h"  // PLAXEN_PRODUCT_TITLE

#define IDR_MANIFEST 3
#define IDR_TYPELIB 1
#define IDI_PLAXEN 103
#define IDD_AGENT 201

#define PLAXEN_VERSION_BINARY 1, 1, 0, 1
#define PLAXEN_VERSION_TEXT "1.1.0.1"

// Dialogs and their controls.
#define IDD_PROFILE_TITLE 110
#define IDC_TITLE_BOX 315
#define IDD_ABOUT 204
#define IDC_ABOUT_LINK_CURSOR 209
#define IDR_ABOUT_PICTURE 210
#define IDC_ABOUT_TEXT 211
#define IDD_PROFILE_EDITOR 212
#define IDC_EDITOR_TITLE 309
#define IDC_EDITOR_LIST 311
#define IDC_EDITOR_TITLE_LABEL 314
#define IDC_EDITOR_ICON 316
#define IDC_EDITOR_SLIDER 317
#define IDC_EDITOR_HEADER_CHECK 329
#define IDC_EDITOR_SLIDER_GROUP 330
