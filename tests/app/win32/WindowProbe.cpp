// Looks at the running window from another process, the way a user's desktop sees it: finds the
// TForm1 window, reads its children's texts, places and states, and checks them against the
// layout table. The end-to-end script under Wine drives the program with clicks and asks this
// probe what the window shows.
//
// Exit codes: 0 the check held, 1 it failed (the reason is on stderr), 2 bad usage or time-out.

// windows.h comes first: the other Windows headers build on its types.
#include <windows.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "WindowLayout.h"

namespace {

namespace layout = korvane::layout;

constexpr int kOk = 0;
constexpr int kCheckFailed = 1;
constexpr int kUsageOrTimeout = 2;

// How often wait-status looks again. The window lives in another process started by the script,
// and nothing in it tells us when a text changes, so the probe polls against a deadline.
constexpr DWORD kPollMs = 50;

std::wstring Widen(std::string_view text) {
  if (text.empty()) return {};
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                        nullptr, nullptr);
  return narrow;
}

// A text as one quoted line: line breaks and control characters become escapes, so a trailing
// blank or a stray carriage return is visible in a message.
std::string Quoted(std::wstring_view text) {
  std::string out = "\"";
  for (const wchar_t c : text) {
    switch (c) {
      case L'\n':
        out += "\\n";
        break;
      case L'\r':
        out += "\\r";
        break;
      case L'\t':
        out += "\\t";
        break;
      case L'"':
        out += "\\\"";
        break;
      case L'\\':
        out += "\\\\";
        break;
      default:
        if (c < 0x20) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(c));
          out += hex;
        } else {
          out += Narrow(std::wstring_view(&c, 1));
        }
    }
  }
  return out + "\"";
}

// The argument's escapes: \n is a line break, \r a carriage return, \\ a backslash.
std::wstring Unescape(std::wstring_view text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\\' && i + 1 < text.size()) {
      const wchar_t next = text[i + 1];
      if (next == L'n' || next == L'r' || next == L'\\') {
        out += next == L'n' ? L'\n' : next == L'r' ? L'\r' : L'\\';
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// The window text as Windows keeps it. For a window of another process GetWindowText reads the
// stored text without sending a message, so a busy window cannot stall the probe.
std::wstring TextOf(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  const int got = ::GetClassNameW(window, name, 256);
  return std::wstring(name, static_cast<std::size_t>(got > 0 ? got : 0));
}

HWND FindForm() { return ::FindWindowW(Widen(layout::kWindowClass).c_str(), nullptr); }

// The form's own child with that control id. Only direct children count: a combo box keeps
// controls of its own inside, and its edit box has id 1001 like the first row.
HWND FindChild(HWND form, int id) { return ::GetDlgItem(form, id); }

HWND FindChild(HWND form, const layout::ControlLayout& row) {
  return FindChild(form, layout::ChildId(row.name));
}

const layout::ControlLayout* RowNamed(std::string_view name) {
  const auto index = layout::IndexOf(name);
  return index ? &layout::kControls[*index] : nullptr;
}

// The child's rectangle in the form's client coordinates.
RECT ClientRectOf(HWND form, HWND child) {
  RECT rect{};
  ::GetWindowRect(child, &rect);
  ::MapWindowPoints(HWND_DESKTOP, form, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::string RectText(const RECT& r) {
  char text[96];
  std::snprintf(text, sizeof text, "left %ld top %ld width %ld height %ld", r.left, r.top,
                r.right - r.left, r.bottom - r.top);
  return text;
}

std::optional<int> ProgressPosition(HWND bar) {
  DWORD_PTR position = 0;
  if (!::SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position)) {
    return std::nullopt;
  }
  return static_cast<int>(position);
}

void Fail(const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); }

HWND RequireForm() {
  HWND form = FindForm();
  if (!form) Fail("no top-level window of class " + std::string(layout::kWindowClass));
  return form;
}

int WaitStatus(const std::wstring& expected, unsigned long timeoutMs) {
  const auto* row = RowNamed("lblStaust");
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  std::string seen = "no top-level window of class " + std::string(layout::kWindowClass);
  for (;;) {
    if (HWND form = FindForm()) {
      HWND status = FindChild(form, *row);
      if (!::IsWindowVisible(form)) {
        seen = "the window exists but is not visible";
      } else if (!status) {
        seen = "the window has no child with the id of lblStaust";
      } else {
        const std::wstring text = TextOf(status);
        if (text == expected) return kOk;
        seen = "lblStaust shows " + Quoted(text);
      }
    }
    if (::GetTickCount64() >= deadline) break;
    ::Sleep(kPollMs);
  }
  Fail("wait-status: no " + Quoted(expected) + " within " + std::to_string(timeoutMs) +
       " ms; last seen: " + seen);
  return kUsageOrTimeout;
}

int CheckLayout() {
  HWND form = RequireForm();
  if (!form) return kCheckFailed;
  std::vector<std::string> faults;

  if (ClassOf(form) != Widen(layout::kWindowClass)) faults.push_back("class is not TForm1");
  const std::wstring caption = TextOf(form);
  if (caption != Widen(layout::kCaption)) faults.push_back("caption is " + Quoted(caption));
  HWND owner = ::GetWindow(form, GW_OWNER);
  if (!owner) {
    faults.push_back("the window has no owner window");
  } else if (TextOf(owner) != Widen(layout::kApplicationTitle)) {
    faults.push_back("the owner window's title is " + Quoted(TextOf(owner)));
  }

  const LONG style = ::GetWindowLongW(form, GWL_STYLE);
  if ((style & WS_CAPTION) != WS_CAPTION) faults.push_back("no WS_CAPTION");
  if (!(style & WS_SYSMENU)) faults.push_back("no WS_SYSMENU");
  if (!(style & WS_MINIMIZEBOX)) faults.push_back("no WS_MINIMIZEBOX");
  if (style & WS_MAXIMIZEBOX) faults.push_back("WS_MAXIMIZEBOX is set");
  if (style & WS_THICKFRAME) faults.push_back("WS_THICKFRAME is set: the window can be resized");

  RECT client{};
  ::GetClientRect(form, &client);
  if (client.right != layout::kClientWidth || client.bottom != layout::kClientHeight) {
    faults.push_back("client area is " + std::to_string(client.right) + " x " +
                     std::to_string(client.bottom));
  }

  // Centred within a pixel: an odd difference cannot be split evenly.
  RECT outer{};
  ::GetWindowRect(form, &outer);
  const long screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
  const long screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  const long offX = 2 * outer.left + (outer.right - outer.left) - screenWidth;
  const long offY = 2 * outer.top + (outer.bottom - outer.top) - screenHeight;
  if (std::labs(offX) > 2 || std::labs(offY) > 2) {
    faults.push_back("window (" + RectText(outer) + ") is not centred on the " +
                     std::to_string(screenWidth) + " x " + std::to_string(screenHeight) +
                     " screen");
  }

  for (const auto& row : layout::kControls) {
    const std::string name(row.name);
    HWND child = FindChild(form, row);
    if (!child) {
      faults.push_back(name + ": no child with id " + std::to_string(layout::ChildId(row.name)));
      continue;
    }
    const RECT at = ClientRectOf(form, child);
    RECT want{row.left, row.top, row.left + row.width, row.top + row.height};
    // A drop-down list takes the height of its closed box from its font, whatever it was
    // created with; only its place and width are the layout's.
    if (row.kind == layout::Kind::DropDownList) want.bottom = want.top + (at.bottom - at.top);
    if (!::EqualRect(&at, &want)) {
      faults.push_back(name + " is at " + RectText(at) + ", expected " + RectText(want));
    }
    // The logic shows and hides these three; every other control keeps its first visibility.
    const bool driven =
        row.name == "Image2" || row.name == "Image3" || row.name == "UpdateProgressBar";
    const bool visible = ::IsWindowVisible(child) != FALSE;
    if (!driven && visible != row.visibleAtStart) {
      faults.push_back(name + (visible ? " is visible" : " is hidden"));
    }
    if (row.kind == layout::Kind::Label && !row.text.empty() && TextOf(child) != Widen(row.text)) {
      faults.push_back(name + " shows " + Quoted(TextOf(child)));
    }
  }

  for (const auto& fault : faults) Fail("check-layout: " + fault);
  return faults.empty() ? kOk : kCheckFailed;
}

int State() {
  HWND form = RequireForm();
  if (!form) return kCheckFailed;
  RECT outer{};
  RECT client{};
  ::GetWindowRect(form, &outer);
  ::GetClientRect(form, &client);
  HWND owner = ::GetWindow(form, GW_OWNER);
  std::printf("window   %s class %s visible %d style 0x%08lx\n", Quoted(TextOf(form)).c_str(),
              Narrow(ClassOf(form)).c_str(), ::IsWindowVisible(form) ? 1 : 0,
              static_cast<unsigned long>(::GetWindowLongW(form, GWL_STYLE)));
  std::printf("owner    %s\n", owner ? Quoted(TextOf(owner)).c_str() : "(none)");
  std::printf("screen   %s\n", RectText(outer).c_str());
  std::printf("client   %ld x %ld\n", client.right, client.bottom);
  for (const auto& row : layout::kControls) {
    HWND child = FindChild(form, row);
    const std::string name(row.name);
    if (!child) {
      std::printf("%-18s missing\n", name.c_str());
      continue;
    }
    std::printf("%-18s %-7s %-8s %s text %s", name.c_str(),
                ::IsWindowVisible(child) ? "visible" : "hidden",
                ::IsWindowEnabled(child) ? "enabled" : "disabled",
                RectText(ClientRectOf(form, child)).c_str(), Quoted(TextOf(child)).c_str());
    if (row.kind == layout::Kind::ProgressBar) {
      const auto position = ProgressPosition(child);
      if (position) {
        std::printf(" position %d", *position);
      } else {
        std::printf(" position ?");
      }
    }
    std::printf("\n");
  }
  return kOk;
}

int StatusPoint() {
  HWND form = RequireForm();
  if (!form) return kCheckFailed;
  HWND status = FindChild(form, *RowNamed("lblStaust"));
  if (!status) {
    Fail("status-point: no lblStaust child");
    return kCheckFailed;
  }
  RECT rect{};
  ::GetWindowRect(status, &rect);
  std::printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  return kOk;
}

int WindowRect() {
  HWND form = RequireForm();
  if (!form) return kCheckFailed;
  RECT rect{};
  ::GetWindowRect(form, &rect);
  std::printf("%ld %ld %ld %ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left,
              rect.top);
  return kOk;
}

int Close() {
  HWND form = RequireForm();
  if (!form) return kCheckFailed;
  if (!::PostMessageW(form, WM_CLOSE, 0, 0)) {
    Fail("close: PostMessage failed with error " + std::to_string(::GetLastError()));
    return kCheckFailed;
  }
  return kOk;
}

int Expect(const std::string& name, const std::wstring& what) {
  const auto* row = RowNamed(name);
  if (!row) {
    Fail("expect: no control named " + name);
    return kUsageOrTimeout;
  }
  HWND form = RequireForm();
  if (!form) return kCheckFailed;
  HWND child = FindChild(form, *row);
  if (!child) {
    Fail("expect: " + name + " has no window");
    return kCheckFailed;
  }
  const bool visible = ::IsWindowVisible(child) != FALSE;
  const bool enabled = ::IsWindowEnabled(child) != FALSE;
  std::string fault;
  if (what == L"visible") {
    if (!visible) fault = "hidden";
  } else if (what == L"hidden") {
    if (visible) fault = "visible";
  } else if (what == L"enabled") {
    if (!enabled) fault = "disabled";
  } else if (what == L"disabled") {
    if (enabled) fault = "enabled";
  } else if (what.rfind(L"text=", 0) == 0) {
    const std::wstring text = TextOf(child);
    if (text != Unescape(what.substr(5))) fault = "showing " + Quoted(text);
  } else {
    Fail("expect: unknown assertion " + Narrow(what));
    return kUsageOrTimeout;
  }
  if (fault.empty()) return kOk;
  Fail("expect: " + name + " should be " + Narrow(what) + " but is " + fault);
  return kCheckFailed;
}

int Usage() {
  std::fputs(
      "usage: korvane-window-probe COMMAND [-- COMMAND...]\n"
      "  wait-status TEXT TIMEOUT-MS   wait until the window shows TEXT in lblStaust (\\n "
      "allowed)\n"
      "  check-layout                  check titles, style, size, centring and every control\n"
      "  state                         print what the window shows\n"
      "  status-point                  print the screen point X Y of the status text's centre\n"
      "  window-rect                   print the window's screen rectangle as W H X Y\n"
      "  close                         post WM_CLOSE to the window\n"
      "  expect NAME visible|hidden|enabled|disabled|text=TEXT\n"
      "Commands separated by -- run in turn until one fails: each run of the probe costs a\n"
      "process start, which is slow under emulation.\n",
      stderr);
  return kUsageOrTimeout;
}

/// One command, its name first.
int RunOne(const std::vector<std::wstring>& args) {
  if (args.empty()) return Usage();
  const std::wstring& command = args[0];
  if (command == L"wait-status" && args.size() == 3) {
    wchar_t* end = nullptr;
    const unsigned long timeout = std::wcstoul(args[2].c_str(), &end, 10);
    if (args[2].empty() || *end != L'\0') return Usage();
    return WaitStatus(Unescape(args[1]), timeout);
  }
  if (command == L"expect" && args.size() == 3) return Expect(Narrow(args[1]), args[2]);
  if (args.size() != 1) return Usage();
  if (command == L"check-layout") return CheckLayout();
  if (command == L"state") return State();
  if (command == L"status-point") return StatusPoint();
  if (command == L"window-rect") return WindowRect();
  if (command == L"close") return Close();
  return Usage();
}

/// The commands between the separators, in turn, until one does not hold.
int Run(const std::vector<std::wstring>& args) {
  std::vector<std::wstring> command;
  for (std::size_t i = 0; i <= args.size(); ++i) {
    if (i < args.size() && args[i] != L"--") {
      command.push_back(args[i]);
      continue;
    }
    const int code = RunOne(command);
    if (code != kOk) return code;
    command.clear();
  }
  return kOk;
}

}  // namespace

// Wide arguments from the C runtime (-municode), which spares the probe shell32 and the
// libraries it pulls in: each one costs load time under Wine.
int wmain(int argc, wchar_t** argv) {
  // Lines go to a shell that reads them: no carriage returns.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  const std::vector<std::wstring> args(argv + 1, argv + argc);
  const int code = Run(args);
  std::fflush(stdout);
  return code;
}
