#include "config/config_form_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <atomic>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "diag/globals.h"
#include "runtime/handle.h"
#include "runtime/unicode_win32.h"

namespace {

using unique_hfont = unique_handle<handle_traits<HFONT, &DeleteObject>>;

// The project has no public page or mailbox yet: these reserved example names stand in for them
// until a release sets its own.
constexpr const char* kHelpText = "https://skorrel.example.org/";
constexpr const char* kHelpTarget = "https://skorrel.example.org/";
constexpr const char* kMailText = "Mail the team";
constexpr const char* kMailTarget = "mailto:skorrel@example.org";
constexpr const char* kAttribution = "(c) 2026 Skorrel team";
// The caption of the box that shows a failed save.
constexpr const char* kErrorCaption = "gen_skorrel";

// Controls that hold no setting.
enum : int { kStatic = -1, pgSkorrel = 199, kHelpLink = 200, kMailLink };
constexpr UINT_PTR kOutboxTimer = 1;
// Posted by the sign-in's thread when a step has its outcome.
constexpr UINT kSignInFinished = WM_APP + 1;

// ReadOnlySecret: masked and not editable, for a secret only the sign-in writes.
enum class Kind {
  Label,
  Link,
  Check,
  Edit,
  ReadOnly,
  ReadOnlySecret,
  // A line of text the form writes: read-only, borderless, scrolled with the caret when long.
  Preview,
  Password,
  Memo,
  Choice,  // a drop-down list whose text is the chosen item
  Group,
  Button,
  Push,
  Tabs
};

// Position and size in pixels at 96 pixels per inch.
struct ControlLayout {
  int id;
  Kind kind;
  int left, top, width, height;
  const char* text;
};

// In tab order; labels sit before the control they name.
constexpr ControlLayout kTopControls[] = {
    {btnSave, Kind::Button, 272, 365, 75, 25, "&Save Prefs"},
    {pgSkorrel, Kind::Tabs, 4, 4, 341, 354, nullptr},
    {kStatic, Kind::Label, 7, 362, 25, 13, "Help:"},
    {kHelpLink, Kind::Link, 46, 362, 227, 13, kHelpText},
    {kStatic, Kind::Label, 6, 378, 145, 13, kAttribution},
    {kMailLink, Kind::Link, 162, 378, 101, 13, kMailText},
};

// Positions relative to the page's group box.
constexpr ControlLayout kMsnControls[] = {
    {chkMSNActive, Kind::Check, 8, 16, 97, 17, "Active"},
    {chkMSNClear, Kind::Check, 8, 34, 233, 17, "Clear after each track finishes"},
    {kStatic, Kind::Label, 8, 76, 35, 13, "Format:"},
    {txtMSNFormat, Kind::Edit, 49, 73, 266, 21, "%artist% - %title%"},
    {chkMSNDefaultFormat, Kind::Check, 8, 52, 121, 17, "Default song format"},
    {lblMSNPreview, Kind::Preview, 49, 98, 266, 15, ""},
};
constexpr ControlLayout kMircControls[] = {
    {chkmIRCActive, Kind::Check, 8, 16, 97, 17, "Active"},
    {kStatic, Kind::Label, 8, 36, 57, 13, "DDE Name:"},
    {txtmIRCDDE, Kind::Edit, 72, 32, 243, 21, "mIRC"},
    {memmIRCCmd, Kind::Memo, 8, 59, 308, 38, "/ame is listening to %artist% - %title%"},
    {lblmIRCPreview, Kind::Preview, 8, 101, 308, 15, ""},
};
constexpr ControlLayout kMySqlControls[] = {
    {chkMySQLActive, Kind::Check, 8, 16, 97, 17, "Active"},
    {kStatic, Kind::Label, 8, 36, 34, 13, "Server:"},
    {txtMySQLServer, Kind::Edit, 72, 32, 242, 21, ""},
    {kStatic, Kind::Label, 8, 60, 54, 13, "User name:"},
    {txtMySQLUserName, Kind::Edit, 72, 56, 242, 21, ""},
    {kStatic, Kind::Label, 8, 84, 49, 13, "Password:"},
    {txtMySQLPassword, Kind::Password, 72, 80, 242, 21, ""},
    {kStatic, Kind::Label, 8, 108, 50, 13, "Command:"},
    {memMySQLCmd, Kind::Memo, 72, 104, 242, 65, ""},
    {lblMySQLPreview, Kind::Preview, 72, 173, 242, 15, ""},
    {chkMySQLSSH, Kind::Check, 8, 194, 97, 17, "Use SSH tunnel"},
    {lblMySQLOutbox, Kind::Label, 8, 216, 307, 40, ""},
    {btnMySQLSendAgain, Kind::Push, 8, 258, 80, 23, "Send &again"},
    {btnMySQLDiscard, Kind::Push, 92, 258, 70, 23, "&Discard"},
};
constexpr ControlLayout kScrobblingControls[] = {
    {chkListenBrainzActive, Kind::Check, 8, 16, 233, 17, "Send plays to ListenBrainz"},
    {kStatic, Kind::Label, 8, 40, 40, 13, "Token:"},
    {txtListenBrainzToken, Kind::Password, 72, 36, 243, 21, ""},
    {kStatic, Kind::Label, 8, 64, 40, 13, "API:"},
    {txtListenBrainzAPI, Kind::Edit, 72, 60, 243, 21, ""},
    {lblListenBrainzOutbox, Kind::Label, 8, 86, 150, 30, ""},
    {btnListenBrainzSendAgain, Kind::Push, 162, 86, 80, 23, "Send a&gain"},
    {btnListenBrainzDiscard, Kind::Push, 246, 86, 69, 23, "D&iscard"},
    {chkLastFmActive, Kind::Check, 8, 124, 233, 17, "Send plays to Last.fm"},
    {kStatic, Kind::Label, 8, 148, 50, 13, "API key:"},
    {txtLastFmAPIKey, Kind::Edit, 72, 144, 243, 21, ""},
    {kStatic, Kind::Label, 8, 172, 50, 13, "Secret:"},
    {txtLastFmAPISecret, Kind::Password, 72, 168, 243, 21, ""},
    {kStatic, Kind::Label, 8, 196, 50, 13, "Session:"},
    {txtLastFmSessionKey, Kind::ReadOnlySecret, 72, 192, 243, 21, ""},
    {btnLastFmSignIn, Kind::Push, 8, 218, 70, 23, "Sign &in"},
    {btnLastFmDone, Kind::Push, 82, 218, 56, 23, "D&one"},
    {lblLastFmSignIn, Kind::Label, 144, 218, 171, 30, ""},
    {lblLastFmOutbox, Kind::Label, 8, 252, 150, 30, ""},
    {btnLastFmSendAgain, Kind::Push, 162, 252, 80, 23, "Send ag&ain"},
    {btnLastFmDiscard, Kind::Push, 246, 252, 69, 23, "Disca&rd"},
};
constexpr ControlLayout kSshControls[] = {
    {chkSSHActive, Kind::Check, 8, 16, 57, 17, "Active"},
    {kStatic, Kind::Label, 8, 36, 34, 13, "Server:"},
    {txtSSHServer, Kind::Edit, 72, 32, 243, 21, ""},
    {kStatic, Kind::Label, 8, 60, 54, 13, "User name:"},
    {txtSSHUserName, Kind::Edit, 72, 56, 243, 21, ""},
    {kStatic, Kind::Label, 8, 84, 49, 13, "Password:"},
    {txtSSHPassword, Kind::Password, 72, 80, 243, 21, ""},
    {kStatic, Kind::Label, 8, 108, 43, 13, "Key file:"},
    {txtSSHKeyFile, Kind::Edit, 72, 104, 182, 21, ""},
    {btnSSHKeyBrowse, Kind::Push, 258, 103, 57, 23, "Bro&wse..."},
    {kStatic, Kind::Label, 8, 132, 48, 13, "Host key:"},
    {txtSSHHostKey, Kind::ReadOnly, 72, 128, 182, 21, ""},
    {btnSSHForget, Kind::Push, 258, 127, 57, 23, "&Forget"},
    {lblSSHRefusal, Kind::Label, 8, 156, 307, 26, ""},
};
constexpr ControlLayout kMiscControls[] = {
    {chkIgnore, Kind::Check, 8, 16, 233, 17, "Ignore file extensions: (comma separated list)"},
    {memExt, Kind::Memo, 8, 40, 305, 57, "avi,mpg,mpeg,wmv"},
};
constexpr ControlLayout kNowPlayingControls[] = {
    {chkFileActive, Kind::Check, 8, 16, 233, 17, "Write the track to a file (for overlays)"},
    {kStatic, Kind::Label, 8, 40, 30, 13, "File:"},
    {txtFilePath, Kind::Edit, 56, 36, 184, 21, ""},
    {btnFileBrowse, Kind::Push, 244, 35, 71, 23, "&Browse..."},
    {kStatic, Kind::Label, 8, 64, 40, 13, "Format:"},
    {txtFileFormat, Kind::Edit, 56, 60, 259, 21, "%artist% - %title%"},
    {lblFilePreview, Kind::Preview, 56, 83, 259, 15, ""},
    {chkFileClear, Kind::Check, 8, 100, 280, 17, "Empty the file on pause, stop and end of track"},
    {chkDiscordActive, Kind::Check, 8, 120, 233, 17, "Show the track in Discord"},
    {kStatic, Kind::Label, 8, 144, 80, 13, "Application ID:"},
    {txtDiscordApplicationID, Kind::Edit, 96, 140, 219, 21, ""},
    {chkDiscordCovers, Kind::Check, 8, 166, 280, 17, "Show the album's cover, looked up on the Internet"},
    {kStatic, Kind::Label, 8, 190, 80, 13, "Friends see:"},
    {cboDiscordShows, Kind::Choice, 96, 186, 120, 100, nullptr},
};

// The items of each Choice control.
struct Choices {
  int id;
  const char* const* begin;
  const char* const* end;
};
constexpr Choices kChoices[] = {
    {cboDiscordShows, std::begin(kDiscordShowsNames), std::end(kDiscordShowsNames)},
};

struct PageLayout {
  const char* tab;
  const char* group;
  int groupHeight;
  const ControlLayout* begin;
  const ControlLayout* end;
};

constexpr PageLayout kPages[] = {
    {"MSN Messenger", " MSN Messenger 7 Skorrel ", 120, std::begin(kMsnControls), std::end(kMsnControls)},
    {"mIRC", " mIRC Skorrel ", 122, std::begin(kMircControls), std::end(kMircControls)},
    {"MySQL", " MySQL database linkup ", 288, std::begin(kMySqlControls), std::end(kMySqlControls)},
    {"SSH", " SSH tunneling ", 190, std::begin(kSshControls), std::end(kSshControls)},
    {"Now playing", " Now playing ", 216, std::begin(kNowPlayingControls), std::end(kNowPlayingControls)},
    {"Scrobbling", " ListenBrainz and Last.fm ", 288, std::begin(kScrobblingControls),
     std::end(kScrobblingControls)},
    {"Misc", " Misc Options ", 108, std::begin(kMiscControls), std::end(kMiscControls)},
};

// Each setting the dialog edits is laid out on exactly one page, in a control of its kind.
constexpr bool EverySettingControlIsLaidOutOnceAsItsKind() {
  for (const SettingRow& row : kSettingRows) {
    if (row.control == kNoControl) continue;
    int laidOut = 0;
    for (const PageLayout& page : kPages)
      for (const ControlLayout* item = page.begin; item != page.end; ++item) {
        if (item->id != row.control) continue;
        const bool holdsText = item->kind == Kind::Edit || item->kind == Kind::ReadOnly ||
                               item->kind == Kind::ReadOnlySecret || item->kind == Kind::Password ||
                               item->kind == Kind::Memo || item->kind == Kind::Choice;
        if (row.flag ? item->kind != Kind::Check : !holdsText) return false;
        ++laidOut;
      }
    if (laidOut != 1) return false;
  }
  for (const ControlLayout& item : kTopControls)
    if (item.id >= kFirstSettingControl && item.id < kEndOfSettingControls) return false;
  return true;
}
static_assert(EverySettingControlIsLaidOutOnceAsItsKind(),
              "a setting's control is missing from the pages, laid out twice, or of the wrong kind");

constexpr int kGroupLeft = 7, kGroupTop = 5, kGroupWidth = 322;
constexpr int kClientWidth = 353, kClientHeight = 399;

constexpr DWORD kFormStyle = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;

// An in-memory dialog template without controls: the controls are created in code, in pixels.
std::vector<DWORD> DialogTemplate(DWORD style, const char* caption) {
  std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD));
  DLGTEMPLATE header{};
  header.style = style;
  memcpy(words.data(), &header, sizeof header);
  auto text = [&](const char* ascii) {
    while (*ascii) words.push_back(static_cast<unsigned char>(*ascii++));
    words.push_back(0);
  };
  words.push_back(0);  // no menu
  words.push_back(0);  // the standard dialog class
  text(caption);
  if (style & DS_SETFONT) {
    words.push_back(8);
    text("MS Sans Serif");
  }
  // DLGTEMPLATE must be DWORD-aligned.
  std::vector<DWORD> aligned((words.size() + 1) / 2);
  memcpy(aligned.data(), words.data(), words.size() * sizeof(WORD));
  return aligned;
}

class Win32ConfigForm final : public ConfigDialog, FormControls {
 public:
  Win32ConfigForm(HINSTANCE instance, HWND parent, SettingsEditor& editor)
      : instance_(instance), parent_(parent), form_(*this, editor) {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_TAB_CLASSES};
    InitCommonControlsEx(&classes);
  }

  void ShowModal() override {
    const std::vector<DWORD> dialog = DialogTemplate(kFormStyle, kConfigFormCaption);
    if (DialogBoxIndirectParamW(instance_, reinterpret_cast<const DLGTEMPLATE*>(dialog.data()), parent_, Proc,
                                reinterpret_cast<LPARAM>(this)) == -1)
      LogDebug("Config: the dialog could not be shown (" + std::to_string(GetLastError()) + ")");
    controls_.clear();
    pages_.clear();
  }

  // Quit runs on the window thread that runs the modal loop, which ends once this returns.
  void Close() override {
    if (dialog_) EndDialog(dialog_, IDCANCEL);
  }

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) SetWindowLongPtrA(window, DWLP_USER, lParam);
    auto* self = reinterpret_cast<Win32ConfigForm*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self) return FALSE;
    // Nothing may leave a window procedure by an exception: what fails is shown, and the dialog
    // stays open.
    try {
      return self->Handle(window, msg, wParam, lParam);
    } catch (const std::exception& e) {
      MessageBoxW(self->dialog_, Wide(e.what()).c_str(), Wide(kErrorCaption).c_str(), MB_OK | MB_ICONERROR);
    } catch (...) {
      MessageBoxA(self->dialog_, "Unexpected error", kErrorCaption, MB_OK | MB_ICONERROR);
    }
    return TRUE;
  }

  INT_PTR Handle(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
      case WM_INITDIALOG:
        if (!dialog_) {  // the pages' own come later, once the form exists
          dialog_ = window;
          wakeWindow_ = window;
          Build();
          form_.FormShow();
          // The outbox's figures follow the sender while the dialog is open.
          SetTimer(dialog_, kOutboxTimer, 1000, nullptr);
        }
        return TRUE;
      case WM_TIMER:
        if (window == dialog_ && wParam == kOutboxTimer) {
          form_.RefreshOutbox();
          form_.FollowTrack();
        }
        return TRUE;
      case kSignInFinished:
        form_.SignInFinished();
        return TRUE;
      case WM_COMMAND:
        return Command(LOWORD(wParam), HIWORD(wParam));
      case WM_NOTIFY:
        if (reinterpret_cast<const NMHDR*>(lParam)->code != TCN_SELCHANGE) return FALSE;
        ShowPage();
        return TRUE;
      case WM_CTLCOLORSTATIC:
        if (IsLink(reinterpret_cast<HWND>(lParam))) {
          const HDC dc = reinterpret_cast<HDC>(wParam);
          SetTextColor(dc, RGB(0, 0, 255));
          SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
          return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        }
        return FALSE;
      case WM_SETCURSOR:
        if (!IsLink(reinterpret_cast<HWND>(wParam))) return FALSE;
        SetCursor(LoadCursor(nullptr, IDC_HAND));
        SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
        return TRUE;
      case WM_DESTROY:
        if (window == dialog_) dialog_ = wakeWindow_ = nullptr;
        return FALSE;
      default:
        return FALSE;
    }
  }

  // The chosen file replaces the typed path; a cancelled choice leaves it as it was. The file to
  // write may be new; the key file to read must be there.
  void BrowseFor(FormControl field) {
    const bool toWrite = field == txtFilePath;
    std::wstring chosen(MAX_PATH, L'\0');
    const std::wstring typed = Wide(Text(field));
    if (typed.size() < chosen.size()) typed.copy(chosen.data(), typed.size());
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = dialog_;
    dialog.lpstrFilter = toWrite ? L"Text files (*.txt)\0*.txt\0All files\0*.*\0" : L"All files\0*.*\0";
    dialog.lpstrFile = chosen.data();
    dialog.nMaxFile = static_cast<DWORD>(chosen.size());
    dialog.lpstrDefExt = toWrite ? L"txt" : nullptr;
    dialog.Flags = OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | (toWrite ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (!(toWrite ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog))) return;
    chosen.resize(chosen.find(L'\0'));
    SetText(field, Utf8(chosen));
  }

  INT_PTR Command(int id, int code) {
    if (code == EN_CHANGE) {
      form_.TextChanged(static_cast<FormControl>(id));
      return TRUE;
    }
    switch (id) {
      case btnSave:
        form_.btnSaveClick();
        EndDialog(dialog_, IDOK);
        return TRUE;
      case IDCANCEL:  // the close box: the edits are discarded
        EndDialog(dialog_, IDCANCEL);
        return TRUE;
      case chkMSNDefaultFormat:
        if (code == BN_CLICKED) form_.chkMSNDefaultFormatClick();
        return TRUE;
      case btnSSHForget:
        if (code == BN_CLICKED) form_.btnSSHForgetClick();
        return TRUE;
      case btnFileBrowse:
        if (code == BN_CLICKED) BrowseFor(txtFilePath);
        return TRUE;
      case btnSSHKeyBrowse:
        if (code == BN_CLICKED) BrowseFor(txtSSHKeyFile);
        return TRUE;
      case btnMySQLSendAgain:
        if (code == BN_CLICKED) form_.btnMySQLSendAgainClick();
        return TRUE;
      case btnMySQLDiscard:
        if (code == BN_CLICKED) form_.btnMySQLDiscardClick();
        return TRUE;
      case btnListenBrainzSendAgain:
      case btnLastFmSendAgain:
        if (code == BN_CLICKED)
          form_.SendFailedPlaysAgainClick(id == btnLastFmSendAgain ? ScrobbleQueue::LastFm
                                                                   : ScrobbleQueue::ListenBrainz);
        return TRUE;
      case btnListenBrainzDiscard:
      case btnLastFmDiscard:
        if (code == BN_CLICKED)
          form_.DiscardFailedPlaysClick(id == btnLastFmDiscard ? ScrobbleQueue::LastFm
                                                               : ScrobbleQueue::ListenBrainz);
        return TRUE;
      case btnLastFmSignIn:
        if (code == BN_CLICKED) form_.btnLastFmSignInClick();
        return TRUE;
      case btnLastFmDone:
        if (code == BN_CLICKED) form_.btnLastFmDoneClick();
        return TRUE;
      case kHelpLink:
      case kMailLink:
        if (code == STN_CLICKED)
          ShellExecuteA(dialog_, "open", id == kHelpLink ? kHelpTarget : kMailTarget, nullptr, nullptr,
                        SW_SHOWNORMAL);
        return TRUE;
      default:
        return FALSE;
    }
  }

  // Sizes and centres the window, then creates the tabs, the pages and every control.
  void Build() {
    HDC screen = GetDC(nullptr);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    RECT frame{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
    AdjustWindowRectEx(&frame, kFormStyle, FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(dialog_, GWL_EXSTYLE)));
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    MONITORINFO monitor{sizeof monitor, {}, {}, 0};
    GetMonitorInfoA(MonitorFromWindow(parent_ ? parent_ : dialog_, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    SetWindowPos(dialog_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER);

    font_ = reinterpret_cast<HFONT>(SendMessageA(dialog_, WM_GETFONT, 0, 0));
    LOGFONTA underlined{};
    GetObjectA(font_, sizeof underlined, &underlined);
    underlined.lfUnderline = TRUE;
    linkFont_.reset(CreateFontIndirectA(&underlined));

    for (const ControlLayout& item : kTopControls) Create(dialog_, item, 0, 0);
    const HWND tabs = controls_.at(pgSkorrel);
    for (int i = 0; i < static_cast<int>(std::size(kPages)); ++i) {
      TCITEMA tabItem{};
      tabItem.mask = TCIF_TEXT;
      tabItem.pszText = const_cast<char*>(kPages[i].tab);
      SendMessageA(tabs, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&tabItem));
    }
    // A page covers the tab control's display area and comes after it in tab order.
    RECT area;
    GetClientRect(tabs, &area);
    TabCtrl_AdjustRect(tabs, FALSE, &area);
    MapWindowPoints(tabs, dialog_, reinterpret_cast<POINT*>(&area), 2);
    const std::vector<DWORD> pageTemplate = DialogTemplate(WS_CHILD | DS_CONTROL, "");
    for (const PageLayout& page : kPages) {
      HWND sheet =
          CreateDialogIndirectParamW(instance_, reinterpret_cast<const DLGTEMPLATE*>(pageTemplate.data()),
                                     dialog_, Proc, reinterpret_cast<LPARAM>(this));
      SetWindowPos(sheet, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      Create(sheet, {kStatic, Kind::Group, 0, 0, kGroupWidth, page.groupHeight, page.group}, 0, 0);
      for (const ControlLayout* item = page.begin; item != page.end; ++item)
        Create(sheet, *item, kGroupLeft, kGroupTop);
      pages_.push_back(sheet);
    }
    ShowPage();
  }

  void Create(HWND parent, const ControlLayout& item, int dx, int dy) {
    const char* windowClass = "BUTTON";
    DWORD style = WS_CHILD | WS_VISIBLE, exStyle = 0;
    switch (item.kind) {
      case Kind::Label:
        windowClass = "STATIC";
        break;
      case Kind::Link:
        windowClass = "STATIC", style |= SS_NOTIFY;
        break;
      case Kind::Check:
        style |= BS_AUTOCHECKBOX | WS_TABSTOP;
        break;
      case Kind::Group:
        style |= BS_GROUPBOX;
        break;
      case Kind::Button:
        style |= BS_DEFPUSHBUTTON | WS_TABSTOP;
        break;
      case Kind::Push:
        style |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
      case Kind::Tabs:
        // Rows of tabs rather than a strip that scrolls: six tabs are wider than the dialog.
        windowClass = WC_TABCONTROLA, style |= WS_TABSTOP | WS_CLIPSIBLINGS | TCS_MULTILINE;
        break;
      case Kind::Edit:
        windowClass = "EDIT", style |= ES_AUTOHSCROLL | WS_TABSTOP, exStyle = WS_EX_CLIENTEDGE;
        break;
      case Kind::ReadOnly:
        windowClass = "EDIT", style |= ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP, exStyle = WS_EX_CLIENTEDGE;
        break;
      case Kind::ReadOnlySecret:
        windowClass = "EDIT", style |= ES_AUTOHSCROLL | ES_READONLY | ES_PASSWORD | WS_TABSTOP,
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case Kind::Password:
        windowClass = "EDIT", style |= ES_AUTOHSCROLL | ES_PASSWORD | WS_TABSTOP, exStyle = WS_EX_CLIENTEDGE;
        break;
      case Kind::Preview:
        windowClass = "EDIT", style |= ES_AUTOHSCROLL | ES_READONLY;
        break;
      case Kind::Memo:
        windowClass = "EDIT", style |= ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_TABSTOP;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case Kind::Choice:
        windowClass = "COMBOBOX", style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
        break;
    }
    // Each page's group box is placed at the group's own offset.
    const int left = item.kind == Kind::Group ? kGroupLeft : item.left + dx;
    const int top = item.kind == Kind::Group ? kGroupTop : item.top + dy;
    // Unicode windows, so that text in any script is edited and read back whole.
    HWND control =
        CreateWindowExW(exStyle, Wide(windowClass).c_str(), Wide(item.text ? item.text : "").c_str(), style,
                        Scale(left), Scale(top), Scale(item.width), Scale(item.height), parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(item.id)), instance_, nullptr);
    const HFONT font = item.kind == Kind::Link ? linkFont_.get() : font_;
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (item.kind == Kind::Label || item.kind == Kind::Link || item.kind == Kind::Check)
      GrowToFit(control, font, item.kind == Kind::Check);
    if (item.kind == Kind::Password) SendMessageA(control, EM_SETPASSWORDCHAR, '*', 0);
    for (const Choices& choices : kChoices)
      if (choices.id == item.id)
        for (const char* const* name = choices.begin; name != choices.end; ++name)
          SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(*name).c_str()));
    if (item.id != kStatic) controls_[item.id] = control;
  }

  // A caption is never cut: where the font in use is wider than the one the layout was drawn
  // with, a label, link or check box grows to the right to fit its text.
  static void GrowToFit(HWND control, HFONT font, bool hasBox) {
    char text[128];
    const int length = GetWindowTextA(control, text, sizeof text);
    std::string shown;
    for (int i = 0; i < length; ++i)
      if (text[i] != '&') shown.push_back(text[i]);
    HDC dc = GetDC(control);
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32A(dc, shown.c_str(), static_cast<int>(shown.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    const int needed = extent.cx + (hasBox ? GetSystemMetrics(SM_CXMENUCHECK) + 6 : 0);
    RECT rect;
    GetWindowRect(control, &rect);
    if (needed > rect.right - rect.left)
      SetWindowPos(control, nullptr, 0, 0, needed, rect.bottom - rect.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void ShowPage() {
    const auto selected = SendMessageA(controls_.at(pgSkorrel), TCM_GETCURSEL, 0, 0);
    for (std::size_t i = 0; i < pages_.size(); ++i)
      ShowWindow(pages_[i], static_cast<LRESULT>(i) == selected ? SW_SHOW : SW_HIDE);
  }

  bool IsLink(HWND window) const {
    const auto help = controls_.find(kHelpLink), mail = controls_.find(kMailLink);
    return (help != controls_.end() && help->second == window) ||
           (mail != controls_.end() && mail->second == window);
  }

  int Scale(int pixels) const { return MulDiv(pixels, dpi_, 96); }
  HWND Control(FormControl id) const { return controls_.at(id); }

  // FormControls
  bool Checked(FormControl id) override {
    return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
  void SetChecked(FormControl id, bool checked) override {
    SendMessageA(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  std::string Text(FormControl id) override {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(Control(id))) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(Control(id), text.data(), static_cast<int>(text.size()))));
    return Utf8(text);
  }
  void SetText(FormControl id, const std::string& text) override {
    for (const Choices& choices : kChoices)
      if (choices.id == id) {
        // A list's text is its chosen item; one it does not hold chooses none.
        const LRESULT at = SendMessageW(Control(id), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                        reinterpret_cast<LPARAM>(Wide(text).c_str()));
        SendMessageW(Control(id), CB_SETCURSEL, at == CB_ERR ? static_cast<WPARAM>(-1) : at, 0);
        return;
      }
    SetWindowTextW(Control(id), Wide(text).c_str());
  }
  void SetEnabled(FormControl id, bool enabled) override { EnableWindow(Control(id), enabled); }
  void OpenUrl(const std::string& url) override {
    ShellExecuteW(dialog_, L"open", Wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
  // The dialog may be gone by then; a message to no window is dropped.
  void WakeForSignIn() override { PostMessageA(wakeWindow_.load(), kSignInFinished, 0, 0); }

  HINSTANCE instance_;
  HWND parent_;
  // dialog_ as the sign-in's thread reads it; declared before the form, whose end waits for that
  // thread.
  std::atomic<HWND> wakeWindow_{nullptr};
  TConfigForm form_;
  HWND dialog_ = nullptr;
  int dpi_ = 96;
  HFONT font_ = nullptr;
  unique_hfont linkFont_;
  std::map<int, HWND> controls_;
  std::vector<HWND> pages_;
};

}  // namespace

std::unique_ptr<ConfigDialog> MakeConfigForm(HINSTANCE instance, HWND parent, SettingsEditor& editor) {
  return std::make_unique<Win32ConfigForm>(instance, parent, editor);
}
