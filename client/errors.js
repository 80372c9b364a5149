// The one error type the client reports through `options.onError`; `kind` says which stage failed.

/**
 * @typedef {'load'|'frame'|'patch'|'refused'|'handler'|'binding'|'message'|'server'|'socket'|'verify'|'resync'} ErrorKind
 */

export class ClientError extends Error {
  /**
   * @param {ErrorKind} kind
   * @param {string} message
   * @param {unknown} [cause]
   */
  constructor(kind, message, cause) {
    super(message, cause === undefined ? undefined : { cause });
    this.name = 'ClientError';
    this.kind = kind;
  }
}

/** The message of anything thrown, for a report. @param {unknown} err */
export function describe(err) {
  return err instanceof Error ? err.message : String(err);
}
