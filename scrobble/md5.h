#pragma once
// MD5 as lower-case hex, which Last.fm's request signature is: the system's own implementation on
// each platform (BCrypt on Windows, libcrypto natively).
#include <string>
#include <string_view>

std::string Md5Hex(std::string_view data);
