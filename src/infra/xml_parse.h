// The one XML layer of the program: a forward-only reader that yields (element name, text)
// pairs and a writer of nested elements with text, over a file or a memory buffer.
// Every operation returns 1 (bool true) on success and 0 (false) on failure; a failure sets the
// last-error code (1..16) and writes an error line "CXMLParse::<operation> <message>[errno]".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// libxml2 types, kept out of the users' translation units.
struct _xmlTextReader;
struct _xmlTextWriter;

namespace tessarine {

class CXMLParse {
public:
    // Last-error codes.
    enum ErrorCode : int {
        kErrorNone = 0,
        kErrorParameter = 1,          // empty path, null buffer, empty element name or text
        kErrorNotSetup = 2,           // the operation needs a set-up reader or writer
        kErrorNotReleased = 3,        // set-up asked of an object that is already set up
        kErrorCreateStream = 4,       // the file or memory stream cannot be created
        kErrorSetInputOutput = 5,     // the stream cannot be attached to the reader or writer
        kErrorCreateWriter = 6,       // the writer cannot be created
        kErrorSetProperty = 7,        // indentation cannot be switched on
        kErrorStartDocument = 8,      // the XML declaration cannot be written
        kErrorWriteStartElement = 9,  // an element start cannot be written
        kErrorWriteValue = 10,        // element text cannot be written
        kErrorWriteEndElement = 11,   // an element end cannot be written
        kErrorFlush = 12,             // the written bytes cannot be pushed into the stream
        kErrorCreateReader = 13,      // the reader cannot be created
        kErrorRead = 14,              // no further node: end of document, malformed or too large
        kErrorReadLocalName = 15,     // the element's local name cannot be obtained
        kErrorReadValue = 16,         // the text's value cannot be obtained
    };

    // Documents larger than this are refused (code 14) without being parsed.
    static constexpr std::size_t kMaxDocumentSize = 16u * 1024u * 1024u;

    CXMLParse();
    virtual ~CXMLParse();
    CXMLParse(const CXMLParse&) = delete;
    CXMLParse& operator=(const CXMLParse&) = delete;

    // --- reading ---
    // Opens the file read-only (a regular file only). A file above kMaxDocumentSize gives 14.
    int SetupReadFromFile(const std::string& filePath);
    // Reads from a private copy of the bytes.
    int SetupReadFromBuffer(const void* data, std::uint32_t size);
    int SetupReadFromBuffer(std::string_view bytes);

    // Moves to the next element start and returns its local name and the first text that
    // follows it (even when that text belongs to a child element; "" when the element's end
    // comes first). False (code 14, error line "Read Error") at the end of the document too.
    bool ReadNextElement(std::string* name, std::string* value);
    bool ReadNextElement(std::string& name, std::string& value) {
        return ReadNextElement(&name, &value);
    }
    // Reads forward until `count` element starts have been passed; the next ReadNextElement
    // starts after the last of them. False (code 14, no error line) when the document ends
    // first, which is always the case for a count of 0 or less.
    bool SkipElements(int count);
    // True when the last failed read stopped at the clean end of a well-formed document,
    // false when it stopped at malformed or over-sized input (or no read has failed yet).
    bool IsEndOfDocument() const { return endOfDocument_; }

    // --- writing ---
    // Creates or truncates the file now; its content is written by Flush. `fileMode` applies to
    // the file whether it is new or not when it differs from the default 0666 (less umask).
    int SetupWriteToFile(const std::string& filePath, unsigned fileMode = 0666);
    // Writes into a growing memory buffer, read back with GetBuffer after Flush.
    int SetupWriteToBuffer();

    int WriteStartElement(const std::string& name);
    // Closes the innermost open element (as an empty-element tag when it has no content).
    int WriteEndElement();
    // Start tag, escaped text, end tag. Bytes that are not valid UTF-8 and characters XML
    // cannot hold (control characters other than tab, LF and CR) are written as U+FFFD.
    int WriteElementAndText(const std::string& name, const std::string& text);
    // Pushes everything written so far into the file or the memory buffer. Nothing reaches
    // either before this call.
    int Flush();
    // The bytes flushed into the memory buffer so far (byte-order mark first); "" for a file.
    std::string GetBuffer() const;

    // The code of the most recent failure; 0 when none has happened. Never reset.
    int GetLastError() const { return lastError_; }

protected:
    int SetupReader();
    int SetupWriter();
    // Drops the stream, the reader and the writer (unflushed output is discarded); the object
    // can then be set up again. The last-error code is kept.
    void Release();

private:
    class Stream;
    struct ReaderDeleter {
        void operator()(_xmlTextReader* reader) const;
    };
    struct WriterDeleter {
        void operator()(_xmlTextWriter* writer) const;
    };

    bool HasReader() const { return stream_ && reader_; }
    bool HasWriter() const { return stream_ && writer_; }
    bool IsUsed() const { return stream_ || reader_ || writer_; }
    // One node forward: 1 read, 0 end of document, -1 failure (both set code 14).
    int ReadNode();

    std::unique_ptr<Stream> stream_;
    std::unique_ptr<_xmlTextReader, ReaderDeleter> reader_;
    std::unique_ptr<_xmlTextWriter, WriterDeleter> writer_;
    int lastError_ = kErrorNone;
    bool endOfDocument_ = false;
};

}  // namespace tessarine
