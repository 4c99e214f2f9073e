#include "publish/dde_win32.h"

#include "runtime/unicode_win32.h"

namespace {

constexpr const char* kTopic = "COMMAND";
constexpr const char* kItem = "COMMAND";
static_assert(sizeof(void*) != 4 || sizeof(CONVCONTEXT) == 36, "the context DdeConnect is given is 36 bytes");
static_assert(sizeof(void*) != 4 || sizeof(CONVINFO) == 96, "DdeQueryConvInfo is given 96 bytes");

// The plug-in serves nothing and waits for no notification: every transaction is refused.
HDDEDATA CALLBACK DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }

unique_dde_string MakeString(DWORD instance, const std::string& text) {
  return unique_dde_string(
      dde_string{instance, DdeCreateStringHandleA(instance, ToAnsi(text).c_str(), CP_WINANSI)});
}

class DdeConversation final : public MircConversation {
 public:
  DdeConversation(DWORD instance, const std::string& service)
      : instance_(instance), service_(MakeString(instance, service)), topic_(MakeString(instance, kTopic)) {
    if (!instance_) return;
    CONVCONTEXT context{};
    context.cb = sizeof context;
    context.iCodePage = CP_WINANSI;
    conversation_.reset(DdeConnect(instance_, service_.get().hsz, topic_.get().hsz, &context));
    // No server: one attempt to start the program, then one immediate retry. WinExec itself waits
    // until the started program is ready for input.
    if (!conversation_ && !service.empty() &&
        WinExec(ToAnsi(service + " " + kTopic).c_str(), SW_SHOWMINNOACTIVE) >= 32)
      conversation_.reset(DdeConnect(instance_, service_.get().hsz, topic_.get().hsz, &context));
    if (!conversation_) return;

    CONVINFO info{};
    info.cb = sizeof info;
    DdeQueryConvInfo(conversation_.get(), QID_SYNC, &info);
    format_ = info.wFmt != 0 ? info.wFmt : CF_TEXT;
  }

  bool Connected() const override { return static_cast<bool>(conversation_); }

  void Poke(const std::string& text) override {
    const unique_dde_string item = MakeString(instance_, kItem);
    if (!item) return;
    // mIRC reads CF_TEXT in the ANSI code page.
    const std::string ansi = ToAnsi(text);
    unique_dde_data data(
        DdeCreateDataHandle(instance_, reinterpret_cast<BYTE*>(const_cast<char*>(ansi.c_str())),
                            static_cast<DWORD>(ansi.size() + 1), 0, item.get().hsz, format_, 0));
    if (!data) return;
    // Asynchronous: neither the transaction's id nor the server's answer is waited for. The
    // transaction owns the data from here on.
    DdeClientTransaction(reinterpret_cast<BYTE*>(data.release()), 0xFFFFFFFF, conversation_.get(),
                         item.get().hsz, format_, XTYP_POKE, TIMEOUT_ASYNC, nullptr);
  }

 private:
  DWORD instance_;
  // Declared first, freed last: the conversation ends before its names go.
  unique_dde_string service_;
  unique_dde_string topic_;
  unique_hconv conversation_;
  UINT format_ = CF_TEXT;
};

}  // namespace

std::string DdeMircLink::Start() {
  if (instance_) return {};
  DWORD instance = 0;
  if (DdeInitializeA(&instance, DdeCallback, 0, 0) != DMLERR_NO_ERROR) {
    const unsigned code = DdeGetLastError(instance);
    if (instance) DdeUninitialize(instance);
    return DdeInitErrorText(code);
  }
  instance_.reset(instance);
  return {};
}

std::unique_ptr<MircConversation> DdeMircLink::Connect(const std::string& service) {
  return std::make_unique<DdeConversation>(instance_.get(), service);
}
