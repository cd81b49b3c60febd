// The product's names and resource identifiers, each defined once for every layer and for the resource
// compiler, which reads the macros only: the caption, the title by which every process finds the agent
// window, the root of the user's registry tree, and the ids of the module's resources. Their values are
// fixed: other programs and stored data refer to them.
#pragma once


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

#define PLAXEN_PRODUCT_TITLE "Quillmar Orvane Deluxe"
#define PLAXEN_ROOT_KEY "Software\\Quillmar\\Orvane"

#ifndef RC_INVOKED

namespace plx {

// The caption of every message box.
inline constexpr char kMessageCaption[] = PLAXEN_PRODUCT_TITLE;
// The agent window inside the shell's process is found by this title alone.
inline constexpr char kAgentWindowTitle[] = PLAXEN_PRODUCT_TITLE "_";
// Below HKEY_CURRENT_USER.
inline constexpr char kRootKey[] = PLAXEN_ROOT_KEY;
inline constexpr char kItemsKey[] = PLAXEN_ROOT_KEY "\\Items";
inline constexpr char kHiddenItemsKey[] = PLAXEN_ROOT_KEY "\\HiddenItems";

}  // namespace plx

#endif  // RC_INVOKED
