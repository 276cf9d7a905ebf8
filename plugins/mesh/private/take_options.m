% TAKE_OPTIONS  Some options taken out of a call's name, value pairs.
%   [found, rest] = take_options (fail, options, names)
%   fail     the call's fault: fail (mnemonic, format, ...)
%   options  the name, value pairs as given (a cell of an even count, else who:unknownOption)
%   names    the names to take, lower case; a name matches in any case
%   found    a struct with a field for each of them given, its last value
%   rest     the other pairs, in their order (a name that is not a row of characters too, for the
%            next reader to name the fault)
function [found, rest] = take_options (fail, options, names)
  if (mod (numel (options), 2) ~= 0)
    fail ('unknownOption', 'options must come in name, value pairs; found %d arguments.', ...
          numel (options));
  end
  found = struct ();
  rest = {};
  for k = 1:2:numel (options)
    name = options{k};
    if (ischar (name) && isrow (name) && any (strcmpi (name, names)))
      found.(lower (name)) = options{k + 1};
    else
      rest(end + 1:end + 2) = options(k:k + 1);
    end
  end
end
