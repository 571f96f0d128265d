#pragma once
// Certificates made at test time: a test CA, a server certificate for 127.0.0.1 and localhost
// signed by it, and a self-signed one with the same names, written as PEM files into a folder.

#include <string>

namespace testenv {

struct TestCertificates {
    std::string caFile;
    std::string serverCert;
    std::string serverKey;
    std::string selfSignedCert;
    std::string selfSignedKey;
};

TestCertificates MakeTestCertificates(const std::string& folder);

}  // namespace testenv
