-- Opens a pre-filled support e-mail draft in the user's mail client.
--
-- The draft travels as one mailto: URI whose fields are percent-encoded
-- byte for byte, so quotes, shell syntax, backslashes, line breaks and
-- non-ASCII letters reach the composer unchanged whatever the locale, and an
-- empty body is simply an empty field.

on makeSupportDraft(subjectText, bodyText, logPath)
	set draftURI to "mailto:?subject=" & (percent encode subjectText) & "&body=" & (percent encode bodyText)
	if logPath is not "" then set draftURI to draftURI & "&attach=" & (percent encode logPath)
	-- A failed hand-off raises its exit status as the error number.
	run program {"xdg-email", "--utf8", draftURI}
	return "draft_opened"
end makeSupportDraft
