-- Opens a pre-filled support e-mail draft in the user's mail client.
--
-- The desktop's mail service knows how each mail client takes a draft with
-- an attachment; it refuses, with an error, when no route it knows carries
-- everything asked for, so "draft_opened" means the draft holds subject,
-- body and, when a log path is given, the log.

on makeSupportDraft(subjectText, bodyText, logPath)
	-- The support address, written in when the bundle is built; an empty
	-- one makes a draft without a recipient.
	set supportAddress to "@SUPPORT_DRAFT_RECIPIENT@"
	-- A failed hand-off raises its error number: -1743 when the mail
	-- service does not allow this program to compose mail.
	if supportAddress is "" then
		open mail draft {subjectText, bodyText, logPath}
	else
		open mail draft {subjectText, bodyText, logPath} to supportAddress
	end if
	return "draft_opened"
end makeSupportDraft
