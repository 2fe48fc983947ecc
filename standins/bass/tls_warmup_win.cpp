#include "standins/bass/tls_warmup_win.h"

#include <windows.h>
#include <wincrypt.h>

#include "platform/module_thread_win.h"
#include "platform/owners_win.h"

namespace {

struct CertificateStoreKind {
  using Handle = HCERTSTORE;
  static HCERTSTORE Empty() { return nullptr; }
  void Close(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using CertificateStore = Owned<CertificateStoreKind>;
using Certificate = Owned<ClosedBy<PCCERT_CONTEXT, &CertFreeCertificateContext>>;
using CertificateChain = Owned<ClosedBy<PCCERT_CHAIN_CONTEXT, &CertFreeCertificateChain>>;

ModuleRelease WarmUp() {
  // Building the chain of any trusted root loads the root store and the chain engine,
  // which every server certificate is checked against later.
  CertificateStore roots(CertOpenSystemStoreW(0, L"ROOT"));
  if (!roots) return ModuleRelease::Release;
  Certificate root(CertEnumCertificatesInStore(roots.get(), nullptr));
  if (!root) return ModuleRelease::Release;
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof(parameters);
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  CertGetCertificateChain(nullptr, root.get(), nullptr, nullptr, &parameters, 0, nullptr, &chain);
  CertificateChain built(chain);
  return ModuleRelease::Release;
}

}  // namespace

void StartTlsWarmUp() {
  try {
    StartModuleThread(ThisModule(), &WarmUp);
  } catch (...) {
  }
}
