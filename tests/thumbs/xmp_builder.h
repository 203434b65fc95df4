// XMP fixtures: Base64 text (RFC 4648), a main packet with properties given as attributes or
// elements, and the APP1 payloads of an extended packet split into chunks.
//
//   Bytes app1 = MainXmp(Attribute("GImage:Data", Base64(jpeg)));
#pragma once

#include "support/jpeg_builder.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace xmp_fixture {

// Base64 of `bytes`; a non-empty `lineBreak` goes after every 76 characters.
inline std::string Base64(const Bytes& bytes, const std::string& lineBreak = "") {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t column = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t v = std::uint32_t{bytes[i]} << 16;
        if (i + 1 < bytes.size()) v |= std::uint32_t{bytes[i + 1]} << 8;
        if (i + 2 < bytes.size()) v |= bytes[i + 2];
        const std::size_t digits = std::min<std::size_t>(bytes.size() - i, 3) + 1;  // the rest is padding
        for (std::size_t k = 0; k < 4; ++k) {
            out += k < digits ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
            if (!lineBreak.empty() && ++column % 76 == 0) out += lineBreak;
        }
    }
    return out;
}

inline std::string Attribute(const std::string& name, const std::string& value) {
    return "\n      " + name + "=\"" + value + "\"";
}

// A packet of one rdf:Description with these attributes and element text.
inline std::string Packet(const std::string& attributes, const std::string& elements = "") {
    return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
           "<rdf:Description rdf:about=\"\"" +
           attributes + ">" + elements + "</rdf:Description></rdf:RDF></x:xmpmeta>";
}

// The APP1 payload of a main packet.
inline Bytes MainXmp(const std::string& packet) {
    return jpeg_fixture::Concat({jpeg_fixture::Text(std::string("http://ns.adobe.com/xap/1.0/\0", 29)),
                                 jpeg_fixture::Text(packet)});
}

// The APP1 payloads of `packet` as extended XMP in chunks of `chunk` bytes, each naming
// `guid`, the full length `total` (the packet's when 0) and its offset.
inline std::vector<Bytes> ExtendedXmp(const std::string& guid, const std::string& packet, std::size_t chunk,
                                      std::uint32_t total = 0) {
    std::vector<Bytes> out;
    const auto length = total ? total : static_cast<std::uint32_t>(packet.size());
    for (std::size_t at = 0; at < packet.size(); at += chunk) {
        Bytes p = jpeg_fixture::Text(std::string("http://ns.adobe.com/xmp/extension/\0", 35) + guid);
        for (const std::uint32_t v : {length, static_cast<std::uint32_t>(at)})
            for (int shift = 24; shift >= 0; shift -= 8) p.push_back(static_cast<std::uint8_t>(v >> shift));
        const Bytes data = jpeg_fixture::Text(packet.substr(at, chunk));
        p.insert(p.end(), data.begin(), data.end());
        out.push_back(p);
    }
    return out;
}

}  // namespace xmp_fixture
