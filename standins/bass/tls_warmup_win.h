#pragma once
// The first TLS handshake of a process pays for setting up the certificate machinery: under
// Wine, loading the system's root certificates and the chain engine costs 150-300 ms. The
// players' first song waits on that twice over (their own request for the song page's
// redirect, then the stream), so loading the library has it done ahead (DllMain calls this
// once per load), on a thread of its own that keeps the library loaded while it works.
// Nothing waits for it; a failure goes unnoticed.
void StartTlsWarmUp();
