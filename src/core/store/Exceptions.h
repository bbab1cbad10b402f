#pragma once

#include <string>

// Errors of the item store. They are thrown as pointers to new objects
// (`throw new TypeNotFoundException(...)`); the catcher deletes them.
class DataException
{
public:
    explicit DataException(std::string i_what) : m_what(std::move(i_what)) {}
    virtual ~DataException() = default;
    std::string m_what;
};

class TypeAlreadyExistsException : public DataException
{
public:
    using DataException::DataException;
};

class TypeNotFoundException : public DataException
{
public:
    using DataException::DataException;
};

class NullTypeException : public DataException
{
public:
    using DataException::DataException;
};

class NotRelatedException : public DataException
{
public:
    using DataException::DataException;
};

class AlreadyRelatedException : public DataException
{
public:
    using DataException::DataException;
};
