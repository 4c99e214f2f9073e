#pragma once
// Whether a failed statement is worth sending again: decided by the error number the client
// library or the server gives, never by its text.

// The statement stays in the outbox and is sent again later: the connection could not be made or
// was lost, the server is going down or busy, or the login was refused until the user corrects it.
// Any other number means the server read the statement and refused it for good.
bool IsTransientMySQLError(unsigned int number);
