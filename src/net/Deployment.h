#pragma once

// Values that belong to the maker's deployment rather than to the program's logic. They change
// when the maker moves its release repository, rotates its feed signing key or its relay host.
namespace quillpost::Deployment {

// The IRCC updates feed, raw content of the maker's public release repository, and its signature.
inline constexpr const char* feedURL = "https://raw.githubusercontent.com/quillpost-app/quillpost-releases/main/ircc/feed.json";
inline constexpr const char* feedSignatureSuffix = ".sig";

// The Ed25519 public key that signs the feed, raw 32 bytes in Base64. The private half never
// leaves the maker's signing machine.
inline constexpr const char* feedPublicKey = "bgxGZGrmitcgkhpVnGq9e50H4bJlqee1isVkxJcdqv4=";

// The PDF editor's latest release on its public code-hosting site: the description of its zip
// and checksum list.
inline constexpr const char* pdfcraftReleasesURL = "https://api.github.com/repos/quillpost-app/pdfcraft/releases/latest";

// Relay servers live on subdomains of the hosting platform's shared domain.
inline constexpr const char* relayDomainSuffix = ".workers.dev";

}
