-- Opens a pre-filled support e-mail draft in the user's mail client.
--
-- The desktop's mail service knows how each mail client takes a draft with
-- an attachment; it refuses, with an error, when no route it knows carries
-- everything asked for, so "draft_opened" means the draft holds subject,
-- body and, when a log path is given, the log.

on makeSupportDraft(subjectText, bodyText, logPath)
	-- Without a `to`, the draft goes to the bundle's support address (the
	-- SupportDraftRecipient key of Info.plist), or to no one when the
	-- bundle names none. A failed hand-off raises its error number: -1743
	-- when the mail service does not allow this program to compose mail.
	open mail draft {subjectText, bodyText, logPath}
	return "draft_opened"
end makeSupportDraft
