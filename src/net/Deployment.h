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

// The program's own releases: the appcast, and the Ed25519 public key (raw 32 bytes in Base64)
// that signs every release archive.
inline constexpr const char* updateFeedURL = "https://quillpost-app.github.io/quillpost-releases/appcast.xml";
inline constexpr const char* updatePublicKey = "LLdaGDW++Y8YzSYA9BpSUh1ROn4BzYo0T2sJP6EFZSg=";
// Where people download a release themselves, for a copy that can't update itself.
inline constexpr const char* releasesPageURL = "https://github.com/quillpost-app/quillpost-releases/releases/latest";
// The PDF editor's latest release on its public code-hosting site: the description of its zip
// and checksum list.
inline constexpr const char* pdfcraftReleasesURL = "https://api.github.com/repos/quillpost-app/pdfcraft/releases/latest";

// Relay servers live on subdomains of the hosting platform's shared domain.
inline constexpr const char* relayDomainSuffix = ".workers.dev";

}
