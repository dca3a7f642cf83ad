/* Shared pieces of the wizard's dialog templates (dialog units).
   Pages measure 332 x 222. Interior pages: a white header band with the
   header and subheader on it and the picture at its right, a line below it;
   exterior pages: the tall picture on the left and the white area to its
   right. Every page ends with a line and the buttons Back, Next and Cancel.
   The white areas come after the texts on them (lower in the z-order) and
   clip their siblings, so that painting them never covers those texts. */
#pragma once

#include "resourceids.h"

#define PAGE_STYLE DS_MODALFRAME | DS_3DLOOK | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU

#define INTERIOR_HEADER                                                                 \
  LTEXT "", IDC_HEADER, 10, 6, 240, 10, SS_NOPREFIX                                     \
  LTEXT "", IDC_SUBHEADER, 20, 17, 232, 17, SS_NOPREFIX                                 \
  CONTROL "", IDC_WHITE_AREA, "Static", SS_WHITERECT | WS_CLIPSIBLINGS, 0, 0, 259, 36   \
  CONTROL "", IDC_PICTURE, "Static", SS_WHITERECT | WS_CLIPSIBLINGS, 259, 0, 73, 36     \
  CONTROL "", IDC_HEADER_LINE, "Static", SS_ETCHEDHORZ, 0, 36, 332, 1

/* The texts of an exterior page go between these two. */
#define EXTERIOR_PICTURE                                                                \
  CONTROL "", IDC_PICTURE, "Static", SS_WHITERECT | WS_CLIPSIBLINGS, 0, 0, 118, 193     \
  CONTROL "", IDC_HEADER_LINE, "Static", SS_ETCHEDHORZ | NOT WS_VISIBLE, 0, 0, 0, 0     \
  LTEXT "", IDC_HEADER, 128, 10, 196, 26, SS_NOPREFIX
#define EXTERIOR_AREA                                                                   \
  CONTROL "", IDC_WHITE_AREA, "Static", SS_WHITERECT | WS_CLIPSIBLINGS, 118, 0, 214, 193

#define WIZARD_BUTTONS(back, next, cancel)                                              \
  CONTROL "", IDC_BUTTON_LINE, "Static", SS_ETCHEDHORZ, 0, 193, 332, 1                  \
  PUSHBUTTON back, IDC_BACK_BUTTON, 168, 201, 50, 14, WS_GROUP                          \
  DEFPUSHBUTTON next, IDC_NEXT_BUTTON, 218, 201, 50, 14                                 \
  PUSHBUTTON cancel, IDC_CANCEL_BUTTON, 275, 201, 50, 14

/* A folder shown in a group with the Browse button. */
#define FOLDER_GROUP(y, label, browse)                                                  \
  GROUPBOX label, IDC_FOLDER_GROUP, 20, y, 292, 30                                      \
  LTEXT "", IDC_PATH_TEXT, 28, y + 14, 210, 10, SS_NOPREFIX | SS_PATHELLIPSIS           \
  PUSHBUTTON browse, IDC_BROWSE_BUTTON, 246, y + 11, 58, 14, WS_GROUP

/* Space required and available on the destination's drive. */
#define SPACE_LINES(y)                                                                  \
  LTEXT "", IDC_REQUIRED_LABEL, 20, y, 150, 8, SS_NOPREFIX                              \
  RTEXT "", IDC_REQUIRED_VALUE, 170, y, 70, 8, SS_NOPREFIX                              \
  LTEXT "", IDC_AVAILABLE_LABEL, 20, y + 11, 150, 8, SS_NOPREFIX                        \
  RTEXT "", IDC_AVAILABLE_VALUE, 170, y + 11, 70, 8, SS_NOPREFIX

#define PROGRESS_BAR(id, x, y, w) CONTROL "", id, "msctls_progress32", WS_BORDER, x, y, w, 11
