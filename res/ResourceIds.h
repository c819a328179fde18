#pragma once

// Resource and command identifiers of the program.

constexpr int IDR_MAINFRAME = 128;
constexpr int IDP_SOCKETS_INIT_FAILED = 104;
constexpr int AFX_IDS_APP_TITLE = 57344;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

constexpr int ID_GROUP = 32771;
constexpr int ID_LOG_BY_STATUS = 32772;
constexpr int ID_FULL_LOG = 32773;

constexpr int ID_EDIT_COPY = 57634;
constexpr int ID_EDIT_CUT = 57635;
constexpr int ID_EDIT_PASTE = 57637;
constexpr int ID_EDIT_UNDO = 57643;
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;
constexpr int ID_NEXT_PANE = 57680;
constexpr int ID_PREV_PANE = 57681;
