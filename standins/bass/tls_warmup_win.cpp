#include "standins/bass/tls_warmup_win.h"

#include <windows.h>
#include <wincrypt.h>

#include "standins/bass/module_thread_win.h"

namespace {

ModuleRelease WarmUp() {
  // Building the chain of any trusted root loads the root store and the chain engine,
  // which every server certificate is checked against later.
  HCERTSTORE roots = CertOpenSystemStoreW(0, L"ROOT");
  if (roots == nullptr) return ModuleRelease::Release;
  PCCERT_CONTEXT root = CertEnumCertificatesInStore(roots, nullptr);
  if (root != nullptr) {
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (CertGetCertificateChain(nullptr, root, nullptr, nullptr, &parameters, 0, nullptr, &chain)) {
      CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(root);
  }
  CertCloseStore(roots, 0);
  return ModuleRelease::Release;
}

}  // namespace

void StartTlsWarmUp() {
  try {
    StartModuleThread(&WarmUp);
  } catch (...) {
  }
}
