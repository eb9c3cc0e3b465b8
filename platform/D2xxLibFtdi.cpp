// The D2XX subset's backend for real FTDI adapters, on libftdi1.
#include <libftdi1/ftdi.h>

#include <cstring>
#include <deque>

#include "platform/Clock.h"
#include "platform/D2xxBackend.h"

using namespace comm_error;

namespace d2xx {
namespace {

constexpr int kFtdiVendor = 0x0403;

struct ContextDeleter {
  void operator()(ftdi_context* ctx) const { ftdi_free(ctx); }
};
using Context = std::unique_ptr<ftdi_context, ContextDeleter>;

// libftdi's codes for "the device is gone" (-666) and libusb's "no device" (-4) and I/O (-1).
int32_t CodeOf(int ftdiResult) {
  switch (ftdiResult) {
    case -666: case -4: case -1: return kDeviceNotConnected;
    case -3: return kAccessDenied;  // unable to claim: another program holds the adapter
    case -7: return kTimeout;
    default: return kGenFailure;
  }
}

struct Listed {
  libusb_device* device;
  AdapterInfo info;
};

// Walks the FTDI devices on the bus with their strings; `ok` false when libusb fails.
template <typename Visit>
bool ForEachAdapter(ftdi_context* ctx, Visit visit) {
  ftdi_device_list* list = nullptr;
  if (ftdi_usb_find_all(ctx, &list, 0, 0) < 0) return false;
  for (ftdi_device_list* node = list; node != nullptr; node = node->next) {
    char manufacturer[128] = {}, description[128] = {}, serial[128] = {};
    // A device whose strings cannot be read (permissions, held elsewhere) is listed with an
    // empty serial number, and so as not available.
    ftdi_usb_get_strings2(ctx, node->dev, manufacturer, sizeof manufacturer, description,
                          sizeof description, serial, sizeof serial);
    if (visit(Listed{node->dev, AdapterInfo{serial, description, {}}})) break;
  }
  ftdi_list_free(&list);
  return true;
}

class CLibFtdiComm final : public CStreamComm {
 public:
  explicit CLibFtdiComm(Context ctx) : m_ctx(std::move(ctx)) {}
  ~CLibFtdiComm() override { ftdi_usb_close(m_ctx.get()); }

 protected:
  bool RawIsOpen() const override { return true; }

  long RawRead(uint8_t* buffer, uint32_t length) override {
    long n = 0;
    while (!m_pending.empty() && static_cast<uint32_t>(n) < length) {
      buffer[n++] = m_pending.front();
      m_pending.pop_front();
    }
    if (static_cast<uint32_t>(n) == length) return n;
    // The chip sends a status packet every latency period (1 ms), so this returns promptly.
    const int r = ftdi_read_data(m_ctx.get(), buffer + n, static_cast<int>(length - n));
    if (r < 0) return FailFtdi(r);
    return n + r;
  }

  long RawWrite(const uint8_t* buffer, uint32_t length) override {
    const int r = ftdi_write_data(m_ctx.get(), buffer, static_cast<int>(length));
    return r < 0 ? FailFtdi(r) : r;
  }

  Ready RawWait(bool forWrite, double deadline, CWakeup* wakeup) override {
    if (forWrite || !m_pending.empty()) return Ready::Yes;
    uint8_t chunk[512];
    for (;;) {
      if (wakeup != nullptr && wakeup->Pending()) {
        wakeup->Consume();
        return Ready::Woken;
      }
      // Each read blocks in USB for at most one latency period; the wake-up is seen within it.
      const int r = ftdi_read_data(m_ctx.get(), chunk, sizeof chunk);
      if (r < 0) {
        FailFtdi(r);
        return Ready::Failed;
      }
      if (r > 0) {
        m_pending.insert(m_pending.end(), chunk, chunk + r);
        return Ready::Yes;
      }
      if (deadline >= 0 && NowMilliseconds() >= deadline) return Ready::Timeout;
    }
  }

  bool RawPurge(bool rx, bool tx) override {
    if (rx) m_pending.clear();
    const int r = rx && tx ? ftdi_tcioflush(m_ctx.get())
                           : rx ? ftdi_tciflush(m_ctx.get()) : ftdi_tcoflush(m_ctx.get());
    return r < 0 ? FailFtdi(r) >= 0 : true;
  }

  bool RawApplyState(const Dcb& dcb) override {
    ftdi_context* ctx = m_ctx.get();
    if (dcb.ByteSize != 7 && dcb.ByteSize != 8) return Fail(kInvalidParameter, "FTDI adapters take 7 or 8 data bits");
    static constexpr ftdi_parity_type kParity[] = {NONE, ODD, EVEN, MARK, SPACE};
    static constexpr ftdi_stopbits_type kStop[] = {STOP_BIT_1, STOP_BIT_15, STOP_BIT_2};
    int r = ftdi_set_baudrate(ctx, static_cast<int>(dcb.BaudRate));
    if (r >= 0)
      r = ftdi_set_line_property2(ctx, dcb.ByteSize == 7 ? BITS_7 : BITS_8, kStop[dcb.StopBits],
                                  kParity[dcb.Parity], BREAK_OFF);
    if (r >= 0) {
      const int flow = (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) ? SIO_RTS_CTS_HS
                       : (dcb.fOutX || dcb.fInX) ? SIO_XON_XOFF_HS
                                                 : SIO_DISABLE_FLOW_CTRL;
      r = ftdi_setflowctrl(ctx, flow);
    }
    if (r >= 0) r = ftdi_setdtr(ctx, dcb.fDtrControl == DTR_CONTROL_DISABLE ? 0 : 1);
    if (r >= 0) r = ftdi_set_event_char(ctx, static_cast<unsigned char>(dcb.EvtChar), 0);
    return r < 0 ? FailFtdi(r) >= 0 : true;
  }

 private:
  long FailFtdi(int r) {
    Fail(CodeOf(r), std::string("libftdi: ") + ftdi_get_error_string(m_ctx.get()));
    return -1;
  }

  Context m_ctx;
  std::deque<uint8_t> m_pending;  // bytes a readability wait fetched
};

}  // namespace

std::vector<AdapterInfo> ListLibFtdi(bool& ok) {
  std::vector<AdapterInfo> adapters;
  Context ctx(ftdi_new());
  ok = ctx && ForEachAdapter(ctx.get(), [&](const Listed& listed) {
         adapters.push_back(listed.info);
         return false;
       });
  return adapters;
}

std::unique_ptr<CStreamComm> OpenLibFtdi(const std::string& serial, int32_t& error,
                                         std::string& text) {
  Context ctx(ftdi_new());
  if (!ctx) {
    error = kGenFailure;
    text = "libftdi: out of memory";
    return nullptr;
  }
  int result = -1;
  bool found = false;
  const bool listed = ForEachAdapter(ctx.get(), [&](const Listed& adapter) {
    if (adapter.info.serial != serial) return false;
    found = true;
    result = ftdi_usb_open_dev(ctx.get(), adapter.device);
    return true;
  });
  if (!listed || !found || result < 0) {
    error = !listed ? kGenFailure : !found ? kFileNotFound : CodeOf(result);
    text = !found && listed ? "no FTDI adapter with serial number " + serial
                            : std::string("libftdi: ") + ftdi_get_error_string(ctx.get());
    return nullptr;
  }
  // A 1 ms latency timer: the chip otherwise holds a short answer up to 16 ms.
  ftdi_set_latency_timer(ctx.get(), 1);
  ctx->usb_read_timeout = 50;
  ctx->usb_write_timeout = 1000;
  ftdi_tcioflush(ctx.get());
  return std::make_unique<CLibFtdiComm>(std::move(ctx));
}

}  // namespace d2xx
