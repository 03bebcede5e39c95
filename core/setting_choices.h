// The texts of the settings that are chosen from a list: the graphic formats
// (ImageFormat), the logins (AuthenticationMethod) and the connection
// security (SMTPSecurity). A list's index is the number the setting stores,
// so the options sheet and kestrel-admin show and take the same words.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/image_format.h"

namespace kestrel {

inline constexpr std::array<std::string_view, 5> kImageFormatChoices = {"Jpg", "Png", "Tiff", "Sff", "Pdf"};
static_assert(kImageFormatChoices.size() == static_cast<std::size_t>(ImageFormatNumber(ImageFormat::Pdf)) + 1);

inline constexpr std::array<std::string_view, 5> kAuthenticationChoices = {"None", "CRAM MD5", "AUTH LOGIN",
                                                                           "LOGIN PLAIN", "AUTH PLAIN"};

inline constexpr std::array<std::string_view, 3> kSecurityChoices = {"None", "STARTTLS", "SSL/TLS"};

}  // namespace kestrel
