/* Shared pieces of the wizard's dialog templates (dialog units).
   Pages measure 332 x 222. Interior pages: a white header band (1006) with
   the header (1009) and subheader (1010) on it and the picture (1011) at its
   right, a line below it (1007); exterior pages: the tall picture (1011) on
   the left and the white area (1006) to its right. Every page ends with a
   line (1008) and the buttons Back (1003), Next (1001) and Cancel (1000).
   The white areas come after the texts on them (lower in the z-order) and
   clip their siblings, so that painting them never covers those texts. */
#pragma once

#define PAGE_STYLE DS_MODALFRAME | DS_3DLOOK | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU

#define INTERIOR_HEADER                                                                  \
  LTEXT "", 1009, 10, 6, 240, 10, SS_NOPREFIX                                           \
  LTEXT "", 1010, 20, 17, 232, 17, SS_NOPREFIX                                          \
  CONTROL "", 1006, "Static", SS_WHITERECT | WS_CLIPSIBLINGS, 0, 0, 259, 36             \
  CONTROL "", 1011, "Static", SS_WHITERECT | WS_CLIPSIBLINGS, 259, 0, 73, 36            \
  CONTROL "", 1007, "Static", SS_ETCHEDHORZ, 0, 36, 332, 1

/* The texts of an exterior page go between these two. */
#define EXTERIOR_PICTURE                                                                 \
  CONTROL "", 1011, "Static", SS_WHITERECT | WS_CLIPSIBLINGS, 0, 0, 118, 193            \
  CONTROL "", 1007, "Static", SS_ETCHEDHORZ | NOT WS_VISIBLE, 0, 0, 0, 0                \
  LTEXT "", 1009, 128, 10, 196, 26, SS_NOPREFIX
#define EXTERIOR_AREA                                                                    \
  CONTROL "", 1006, "Static", SS_WHITERECT | WS_CLIPSIBLINGS, 118, 0, 214, 193

#define WIZARD_BUTTONS(back, next, cancel)                                               \
  CONTROL "", 1008, "Static", SS_ETCHEDHORZ, 0, 193, 332, 1                             \
  PUSHBUTTON back, 1003, 168, 201, 50, 14, WS_GROUP                                      \
  DEFPUSHBUTTON next, 1001, 218, 201, 50, 14                                             \
  PUSHBUTTON cancel, 1000, 275, 201, 50, 14

/* A folder shown in a group with the Browse button. */
#define FOLDER_GROUP(y, label, browse)                                                   \
  GROUPBOX label, 1026, 20, y, 292, 30                                                   \
  LTEXT "", 1027, 28, y + 14, 210, 10, SS_NOPREFIX | SS_PATHELLIPSIS                    \
  PUSHBUTTON browse, 1004, 246, y + 11, 58, 14, WS_GROUP

/* Space required and available on the destination's drive. */
#define SPACE_LINES(y)                                                                   \
  LTEXT "", 1041, 20, y, 150, 8, SS_NOPREFIX                                            \
  RTEXT "", 1043, 170, y, 70, 8, SS_NOPREFIX                                            \
  LTEXT "", 1042, 20, y + 11, 150, 8, SS_NOPREFIX                                       \
  RTEXT "", 1044, 170, y + 11, 70, 8, SS_NOPREFIX

#define PROGRESS_BAR(id, x, y, w) CONTROL "", id, "msctls_progress32", WS_BORDER, x, y, w, 11
