// The host's 8-bit string.
#pragma once

#include <maya/MTypes.h>

#include <string>

class MString {
  public:
    MString();
    MString(const char* text);
    MString(const MString& other);
    MString& operator=(const MString& other);
    ~MString();

    unsigned int length() const;
    // Characters from start to end, both inclusive; indices are clamped to the string.
    MString substring(int start, int end) const;
    const char* asChar() const;

    bool operator==(const char* other) const;
    bool operator!=(const char* other) const;

    MString operator+(const MString& other) const;
    MString operator+(const char* other) const;
    MString operator+(double number) const;

    MString& operator+=(const MString& other);
    MString& operator+=(const char* other);
    MString& operator+=(double number);
    MString& operator+=(int number);
    MString& operator+=(unsigned int number);
    MString& operator+=(float number);

  private:
    std::string text_;
};
