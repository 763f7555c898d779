// The program's exception family: each class belongs to one component and turns its code into
// a fixed Japanese message. Thrown by value, caught by const reference.
#pragma once

#include <exception>
#include <string>

namespace tessarine {

class CAppException : public std::exception {
public:
    explicit CAppException(int code) : code_(code) {}
    int GetErrorCode() const { return code_; }
    // The message of the code; "" for a code outside the class's table.
    virtual std::string GetErrorMessage() const = 0;
    const char* what() const noexcept override;

private:
    int code_;
    mutable std::string what_;
};

#define TESSARINE_DECLARE_EXCEPTION(Name)             \
    class Name : public CAppException {               \
    public:                                           \
        using CAppException::CAppException;           \
        std::string GetErrorMessage() const override; \
    }

TESSARINE_DECLARE_EXCEPTION(CBackupExecuteException);        // backup executor
TESSARINE_DECLARE_EXCEPTION(CBackupSQLException);            // backup file list
TESSARINE_DECLARE_EXCEPTION(CBackupXMLException);            // backup result files
TESSARINE_DECLARE_EXCEPTION(CDetectFileExecuteException);    // detection forwarder
TESSARINE_DECLARE_EXCEPTION(CDetectFileSQLException);        // detection file list
TESSARINE_DECLARE_EXCEPTION(CDetectFileResultSQLException);  // detection results
TESSARINE_DECLARE_EXCEPTION(CDetectFileXMLException);        // detection XML files
TESSARINE_DECLARE_EXCEPTION(CSearchAgentXMLException);       // server search XML

#undef TESSARINE_DECLARE_EXCEPTION

}  // namespace tessarine
